#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

// A list of newspaper names kept as a text file in the data folder (the favourites
// and the visit history): one name per line, CR LF after every line, read and
// written whole. Lines are kept as bytes, so a line written by an older copy in a
// Windows code page goes back to the file exactly as it came.
class NameListFile
{
public:
    explicit NameListFile(QString path);

    const QString& path() const { return m_path; }
    bool exists() const;

    // The lines of the file; a missing file is an empty list and is not created.
    // Throws FileError "Cannot open file %s" when the file exists but cannot be read.
    // Lines equal to `known`'s at the same place share its memory (see parse).
    QList<QByteArray> read(const QList<QByteArray>& known = {}) const;

    // Replaces the file through a temporary file and a rename, so a failed write
    // leaves the old file as it was. Throws FileError "Cannot create file %s".
    void write(const QList<QByteArray>& lines) const;

    // Reads the list, lets edit change it and writes it back, holding a lock on the
    // folder meanwhile, so a change another copy of the program makes at the same
    // moment is not lost. Returns the lines as written.
    using Edit = std::function<void(QList<QByteArray>& lines)>;
    QList<QByteArray> change(const Edit& edit, const QList<QByteArray>& known = {}) const;

    // Splits at CR LF, a lone CR or a lone LF; a last line without a line end
    // counts, a line end at the very end adds no empty line. Every other byte, a
    // byte 0 included, stays part of its line. A line equal to `known`'s line at the same
    // place is that line, shared rather than copied: a list read again while its box
    // shows it (a history of 100,000 visits) is not held twice.
    static QList<QByteArray> parse(const QByteArray& bytes, const QList<QByteArray>& known = {});
    static QByteArray format(const QList<QByteArray>& lines);

    // A name as a line of the list: UTF-8, with line breaks and control characters
    // turned into blanks as the record dialog turns them, so a name another program
    // stored with a line break stays one line.
    static QByteArray entryFor(QString name);

    // A line as the user sees it: UTF-8, or Windows-1252 where it is not valid UTF-8;
    // control characters show as U+FFFD, so nothing in a line is invisible.
    static QString display(const QByteArray& line);

private:
    static QString fromWindows1252(const QByteArray& line);

    QString m_path;
};
