-- Edge cases for the database-to-XML tests; tests/data/db/edge-pg.sql holds
-- the same rows for PostgreSQL.
CREATE TABLE t (id INTEGER, name VARCHAR(50), fixed CHAR(10), note TEXT, data BLOB);
INSERT INTO t VALUES
  (1, 'Alice', 'ab', 'plain', x'00ff41'),
  (2, NULL, NULL, NULL, NULL),
  (3, '   lead', '  x', '  two leading ' || char(9) || char(13) || char(10), x''),
  (4, 'Zoë, 東京', 'Zoë', 'Zoë, 東京 & <b>', x'5a6fc3ab'),
  (5, 'long', 'z', replace(hex(zeroblob(5000)), '00', 'xx') || 'END', NULL);
CREATE TABLE empty_t (id INTEGER, name TEXT);
CREATE TABLE odd ("unit price" DECIMAL(10,2), "MixedCase" INTEGER, "a:b" INTEGER, "1st" INTEGER,
  "padded  " INTEGER, "_x0041_" INTEGER, "Grüße" INTEGER);
INSERT INTO odd VALUES (12.5, 1, 2, 3, 4, 5, 6);
-- Rows that a query must never change.
CREATE TABLE guarded (id INTEGER);
INSERT INTO guarded VALUES (1), (2), (3);
