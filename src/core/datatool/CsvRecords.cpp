#include "datatool/CsvRecords.h"

#include "datatool/Csv.h"
#include "directory/TextRules.h"
#include "errors/AppError.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <limits>

namespace CsvRecords {

QString refusal(const RecordTexts& text)
{
    static const char* const described[] = {"name", "web address", "country", "state", "city", "category"};
    for (int i = 0; i < Field::TextCount; ++i) {
        const QString& field = text[static_cast<size_t>(i)];
        const qsizetype at = TextRules::firstRefused(field);
        if (at < 0)
            continue;
        const QChar refused = field[at];
        const QLatin1String name(described[i]);
        if (TextRules::isLineBreak(refused.unicode()))
            return QStringLiteral("the %1 contains a line break").arg(name);
        return QStringLiteral("the %1 contains the control character U+%2")
            .arg(name, QString::number(refused.unicode(), 16).toUpper().rightJustified(4, u'0'));
    }
    return QString();
}

bool read(const QString& path, const QString& outcome, const std::function<void(Row&)>& each)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    Csv::Reader reader(file.readAll());
    if (file.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    file.close();

    bool withNo = false;
    QHash<qint64, int> lineOfNo;
    try {
        // The header: the six text columns, with or without No in front.
        QStringList header;
        if (!reader.next(header))
            throw AppError(QStringLiteral("the file is empty; it needs a header row"));
        QStringList expected = {QStringLiteral("No"),      QStringLiteral("Name"),  QStringLiteral("Url"),
                                QStringLiteral("Country"), QStringLiteral("State"), QStringLiteral("City"),
                                QStringLiteral("Category")};
        withNo = !header.isEmpty() && header.first().compare(QLatin1String("No"), Qt::CaseInsensitive) == 0;
        if (!withNo)
            expected.removeFirst();
        bool headerOk = header.size() == expected.size();
        for (qsizetype i = 0; headerOk && i < header.size(); ++i)
            headerOk = header[i].compare(expected[i], Qt::CaseInsensitive) == 0;
        if (!headerOk) {
            throw AppError(QStringLiteral("line 1: the header must read \"No,Name,Url,Country,State,City,Category\" "
                                          "(No may be left out), not \"%1\"")
                               .arg(header.join(QLatin1Char(','))));
        }

        QStringList fields;
        while (reader.next(fields)) {
            if (fields.size() == 1 && fields.first().isEmpty())
                continue; // an empty line
            const int line = reader.line();
            auto fail = [&](const QString& reason) {
                throw AppError(QStringLiteral("line %1: %2").arg(line).arg(reason));
            };
            if (fields.size() != expected.size())
                fail(QStringLiteral("expected %1 fields, found %2").arg(expected.size()).arg(fields.size()));
            Row row;
            row.line = line;
            int first = 0;
            if (withNo) {
                // Plain decimal digits only: no sign, blanks or leading zeros.
                static const QRegularExpression digits(QStringLiteral("^[1-9][0-9]{0,9}$"));
                bool ok = digits.match(fields[0]).hasMatch();
                if (ok)
                    row.no = fields[0].toLongLong(&ok);
                if (!ok || row.no < 1 || row.no > std::numeric_limits<qint32>::max())
                    fail(QStringLiteral("No \"%1\" is not a whole number from 1 to %2")
                             .arg(fields[0])
                             .arg(std::numeric_limits<qint32>::max()));
                if (const auto seen = lineOfNo.constFind(row.no); seen != lineOfNo.constEnd())
                    fail(QStringLiteral("No %1 is used twice (also on line %2)").arg(row.no).arg(*seen));
                lineOfNo.insert(row.no, line);
                first = 1;
            }
            for (int i = 0; i < Field::TextCount; ++i)
                row.text[static_cast<size_t>(i)] = fields[first + i];
            if (const QString reason = refusal(row.text); !reason.isEmpty())
                fail(reason);
            each(row);
        }
    } catch (const AppError& error) {
        throw AppError(QStringLiteral("%1, %2; %3").arg(path, error.message(), outcome));
    }
    return withNo;
}

} // namespace CsvRecords
