#pragma once

#include <QString>

// Where the directory table (Data/list.db) and the two list files live.
//
// Installed: the program file stands in a folder named bin and the starter directory
// in ../share/kestrove-news/list.db beside it. The install is not the user's to write,
// so everything lives in the user's data folder, $XDG_DATA_HOME/kestrove-news
// (~/.local/share/kestrove-news by default), and the first start copies the starter
// directory there. It also keeps the starter directory the copy came from, Data/base.db,
// with the version stamp installed beside the starter (starter-version) in
// Data/base-version, so a later release's starter can be merged in (see StarterUpdate).
//
// Portable: everywhere else everything stays beside the program file, as it always has.
//
// The cache of the table (see TableCache) is derived data: installed, it goes to the
// user's cache folder, $XDG_CACHE_HOME/kestrove-news (~/.cache/kestrove-news), where
// backups do not copy it; portable, it stays beside the table.
class DataLocation
{
public:
    // The part of the environment the choice depends on.
    struct Environment
    {
        QString xdgDataHome;
        QString home;
        QString xdgCacheHome;
        // This process's XDG_DATA_HOME, HOME and XDG_CACHE_HOME.
        static Environment current();
    };

    // Throws AppError when the program is installed but neither XDG_DATA_HOME nor HOME
    // names a folder, so nothing is ever taken from the working directory.
    static DataLocation choose(const QString& programFilePath, const Environment& environment);

    bool installed() const { return !m_starter.isEmpty(); }
    // The folder, ending in a separator; Data/list.db and the lists are joined to it.
    const QString& folder() const { return m_folder; }
    // Installed only: the starter directory the first start copies.
    const QString& starterPath() const { return m_starter; }
    QString tablePath() const { return m_folder + QStringLiteral("Data/list.db"); }
    // Where the table's cache is kept.
    QString cachePath() const;
    // The same for any table: the user's cache folder for the table the installed program
    // keeps in the user's data folder, beside the table for any other. For the data tool,
    // which is given a table's path and writes the cache the program will read.
    static QString cachePathFor(const QString& tablePath, const Environment& environment);
    // Installed only: the starter's version stamp, and the base and its stamp in Data.
    QString starterVersionPath() const;
    QString basePath() const { return m_folder + QStringLiteral("Data/base.db"); }
    QString baseVersionPath() const { return m_folder + QStringLiteral("Data/base-version"); }

    // Installed only; a portable folder is left as it is. Makes the data folder and,
    // while it has no Data/list.db, keeps the starter directory as the base and then
    // copies it as Data/list.db, each through a temporary file and a rename. Throws
    // AppError naming the folder or the starter directory and the reason; a failed copy
    // leaves no file behind.
    void prepare() const;

    // The installed starter's stamp, empty when there is none to read.
    QString starterVersion() const;
    // Replaces the base by the installed starter directory and its stamp, each through a
    // temporary file and a rename (the stamp last, so it never names a base it is not).
    // Throws AppError naming the file and the reason.
    void keepStarterAsBase() const;

private:
    QString m_folder;
    QString m_starter;
    QString m_cacheFolder; // installed only, ending in a separator
};
