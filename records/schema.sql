-- The update database shared with the downloader. The downloader creates and
-- fills it; UpdateExe never creates a table or a column. Booleans are 0/1.
-- Further columns may exist; UpdateExe carries and shows them.
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
