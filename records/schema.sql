-- The update database shared with the downloader. The downloader creates and
-- fills it; UpdateExe never creates a table or a column. Booleans are 0/1.
-- Further columns may exist; UpdateExe carries and shows them. Two of them
-- mean something when present (docs/database.md): DownLoadFileLog.FileSize
-- (INTEGER, bytes) and DownLoadFileLog.FileHash (TEXT, SHA-256 in hex) are
-- checked against the download before its row is applied.
CREATE TABLE CurSoftInfo (
    IsAllUpdate  BOOLEAN,
    SoftVer      INTEGER,
    CurUpdateVer INTEGER
);

CREATE TABLE DownLoadFileLog (
    AID        INTEGER,
    SoftID     INTEGER,
    FileName   TEXT,
    FileVer    INTEGER,
    FileType   INTEGER,
    IsClient   BOOLEAN,
    UpdatePath TEXT
);

CREATE TABLE UpdateFileLog (
    AID      INTEGER,
    SoftID   INTEGER,
    FileName TEXT,
    FileVer  INTEGER,
    IsClient BOOLEAN,
    BakPath  TEXT,
    IsUpdate BOOLEAN
);
