-- Retratix tables on PostgreSQL.
-- Identifiers are unquoted (folded to lower case), so the program's mixed-case names reach them.
-- The program's statements run unchanged here and on SQLite; the choices that make that so:
--  * USUARIO of the log is a whole number: the program writes the run number as the text "123"
--    (the data access layer converts it to the column's type), deletes with USUARIO = 123 and the
--    report selects with USUARIO = '123'. A varchar column would refuse USUARIO = 123
--    (no operator varchar = integer); an integer column takes both, '123' being an untyped literal.
--  * CODIGO is a whole number: written from the text "007" it holds 7, which CODIGO = 7 finds.
--  * FILESIZE must equal the stored photo's byte count, so a cut or padded photo is refused.

CREATE TABLE INSTALACIONES (
    CODINSTALACION INTEGER     NOT NULL PRIMARY KEY,
    NOMBRE         VARCHAR(60) NOT NULL
);

CREATE TABLE ABONADOS (
    CODINSTALACION INTEGER NOT NULL,
    CODIGO         INTEGER NOT NULL,
    NOMBRE         VARCHAR(60),
    FECHA          DATE,
    PRIMARY KEY (CODINSTALACION, CODIGO)
);

CREATE TABLE ABONADOSFOTOS (
    CODINSTALACION INTEGER NOT NULL,
    CODIGO         INTEGER NOT NULL,
    FILENAME       VARCHAR(255),
    FILESIZE       INTEGER CHECK (FILESIZE >= 0),
    FOTO           BYTEA,
    PRIMARY KEY (CODINSTALACION, CODIGO),
    CHECK (FOTO IS NULL OR octet_length(FOTO) = FILESIZE)
);

-- The upload log has no key: a run's rows are those with its USUARIO.
CREATE TABLE LOG_ABONADOSFOTOS (
    CODINSTALACION INTEGER     NOT NULL DEFAULT 0,
    USUARIO        INTEGER     NOT NULL,
    NOMBRE_FOTO    VARCHAR(255),
    SUBIO          VARCHAR(1)  CHECK (SUBIO IN ('S', 'N')),
    MOTIVO         VARCHAR(20)
);

CREATE INDEX LOG_ABONADOSFOTOS_USUARIO ON LOG_ABONADOSFOTOS (USUARIO);
