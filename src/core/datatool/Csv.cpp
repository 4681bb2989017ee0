#include "datatool/Csv.h"

#include "errors/AppError.h"

#include <QStringDecoder>

namespace Csv {

Reader::Reader(QByteArray text)
    : m_text(std::move(text))
{
    if (m_text.startsWith("\xEF\xBB\xBF"))
        m_pos = 3; // a byte-order mark some editors write
}

void Reader::fail(int line, const QString& reason) const
{
    throw AppError(QStringLiteral("line %1: %2").arg(line).arg(reason));
}

bool Reader::next(QStringList& fields)
{
    fields.clear();
    const qsizetype size = m_text.size();
    if (m_pos >= size)
        return false;
    m_recordLine = m_line;

    QByteArray field;
    bool quoted = false;
    auto finishField = [&] {
        // A U+FEFF inside a field is data; only the file's own leading mark was dropped.
        QStringDecoder utf8(QStringDecoder::Utf8,
                            QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        QString text = utf8(field);
        if (utf8.hasError())
            fail(m_recordLine, QStringLiteral("the text is not valid UTF-8"));
        fields.append(std::move(text));
        field.clear();
        quoted = false;
    };

    while (m_pos < size) {
        const char c = m_text[m_pos];
        if (quoted) {
            if (c == '"') {
                if (m_pos + 1 < size && m_text[m_pos + 1] == '"') {
                    field += '"';
                    m_pos += 2;
                    continue;
                }
                ++m_pos;
                // After the closing quote only a separator or a line end may follow.
                if (m_pos < size && m_text[m_pos] != ',' && m_text[m_pos] != '\r' && m_text[m_pos] != '\n')
                    fail(m_line, QStringLiteral("unexpected text after a closing quote"));
                quoted = false;
                continue;
            }
            // CR LF, a lone CR and a lone LF each end one line, inside quotes as outside.
            if (c == '\n' || (c == '\r' && (m_pos + 1 >= size || m_text[m_pos + 1] != '\n')))
                ++m_line;
            field += c;
            ++m_pos;
            continue;
        }
        if (c == ',') {
            finishField();
            ++m_pos;
            continue;
        }
        if (c == '\r' || c == '\n') {
            m_pos += (c == '\r' && m_pos + 1 < size && m_text[m_pos + 1] == '\n') ? 2 : 1;
            ++m_line;
            finishField();
            return true;
        }
        if (c == '"') {
            if (!field.isEmpty())
                fail(m_line, QStringLiteral("a quote inside a field that does not start with one"));
            quoted = true;
            ++m_pos;
            continue;
        }
        field += c;
        ++m_pos;
    }
    if (quoted)
        fail(m_recordLine, QStringLiteral("a quoted field is not closed"));
    finishField();
    return true;
}

QByteArray formatRecord(const QStringList& fields)
{
    QByteArray out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += ',';
        const QByteArray utf8 = fields[i].toUtf8();
        if (utf8.contains(',') || utf8.contains('"') || utf8.contains('\n') || utf8.contains('\r')) {
            QByteArray escaped = utf8;
            escaped.replace("\"", "\"\"");
            out += '"' + escaped + '"';
        } else {
            out += utf8;
        }
    }
    out += '\n';
    return out;
}

} // namespace Csv
