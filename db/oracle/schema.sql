-- Retratix tables on Oracle, for a development or demonstration database; at the suite's sites the
-- tables already exist and belong to the suite.
-- Same choices as the SQLite and PostgreSQL scripts: USUARIO and CODIGO are numbers (the program
-- writes them from digit texts, and compares them both bare and quoted); lengths count characters.
-- (A check of FILESIZE against the photo's length, as on the other engines, needs a packaged
-- function, which Oracle refuses in a check.) Untested here: no Oracle server is at hand.

CREATE TABLE INSTALACIONES (
    CODINSTALACION NUMBER(10)         NOT NULL PRIMARY KEY,
    NOMBRE         VARCHAR2(60 CHAR)  NOT NULL
);

CREATE TABLE ABONADOS (
    CODINSTALACION NUMBER(10)         NOT NULL,
    CODIGO         NUMBER(10)         NOT NULL,
    NOMBRE         VARCHAR2(60 CHAR),
    FECHA          DATE,
    PRIMARY KEY (CODINSTALACION, CODIGO)
);

CREATE TABLE ABONADOSFOTOS (
    CODINSTALACION NUMBER(10)         NOT NULL,
    CODIGO         NUMBER(10)         NOT NULL,
    FILENAME       VARCHAR2(255 CHAR),
    FILESIZE       NUMBER(10)         CHECK (FILESIZE >= 0),
    FOTO           BLOB,
    PRIMARY KEY (CODINSTALACION, CODIGO)
);

CREATE TABLE LOG_ABONADOSFOTOS (
    CODINSTALACION NUMBER(10)         DEFAULT 0 NOT NULL,
    USUARIO        NUMBER(10)         NOT NULL,
    NOMBRE_FOTO    VARCHAR2(255 CHAR),
    SUBIO          VARCHAR2(1 CHAR)   CHECK (SUBIO IN ('S', 'N')),
    MOTIVO         VARCHAR2(20 CHAR)
);

CREATE INDEX LOG_ABONADOSFOTOS_USUARIO ON LOG_ABONADOSFOTOS (USUARIO);
