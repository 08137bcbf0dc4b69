-- Retratix tables on SQLite (the embedded default).
-- STRICT tables: a value of the wrong type is refused, never stored converted.
-- Identifiers are unquoted, so the program's mixed-case names (Codigo, filename) reach them.
-- The program's statements run unchanged here and on PostgreSQL; the choices that make that so:
--  * USUARIO of the log is a whole number: the program writes the run number as the text "123"
--    (the data access layer converts it to the column's type), deletes with USUARIO = 123 and the
--    report selects with USUARIO = '123'; both engines compare those with a number column.
--  * CODIGO is a whole number: written from the text "007" it holds 7, which CODIGO = 7 finds.
--  * FILESIZE must equal the stored photo's byte count, so a cut or padded photo is refused.
-- The write-ahead log is set here, where the database has no other user yet: the file keeps it,
-- and readers never hold an upload back (a database in the older journal mode, when another
-- program is reading it, cannot be switched by the program and works on in that mode).

PRAGMA journal_mode=WAL;

CREATE TABLE INSTALACIONES (
    CODINSTALACION INTEGER NOT NULL PRIMARY KEY,
    NOMBRE         TEXT    NOT NULL CHECK (length(NOMBRE) <= 60)
) STRICT;

CREATE TABLE ABONADOS (
    CODINSTALACION INTEGER NOT NULL,
    CODIGO         INTEGER NOT NULL,
    NOMBRE         TEXT    CHECK (length(NOMBRE) <= 60),
    -- Date of enrolment as 'YYYY-MM-DD' text, what TO_DATE returns on this engine.
    FECHA          TEXT    CHECK (FECHA IS NULL OR date(FECHA) IS FECHA),
    PRIMARY KEY (CODINSTALACION, CODIGO)
) STRICT;

CREATE TABLE ABONADOSFOTOS (
    CODINSTALACION INTEGER NOT NULL,
    CODIGO         INTEGER NOT NULL,
    FILENAME       TEXT    CHECK (length(FILENAME) <= 255),
    FILESIZE       INTEGER CHECK (FILESIZE >= 0),
    FOTO           BLOB,
    PRIMARY KEY (CODINSTALACION, CODIGO),
    CHECK (FOTO IS NULL OR length(FOTO) = FILESIZE)
) STRICT;

-- The upload log has no key: a run's rows are those with its USUARIO.
CREATE TABLE LOG_ABONADOSFOTOS (
    CODINSTALACION INTEGER NOT NULL DEFAULT 0,
    USUARIO        INTEGER NOT NULL,
    NOMBRE_FOTO    TEXT    CHECK (length(NOMBRE_FOTO) <= 255),
    SUBIO          TEXT    CHECK (SUBIO IN ('S', 'N')),
    MOTIVO         TEXT    CHECK (length(MOTIVO) <= 20)
) STRICT;

CREATE INDEX LOG_ABONADOSFOTOS_USUARIO ON LOG_ABONADOSFOTOS (USUARIO);
