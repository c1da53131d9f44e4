-- Edge cases for the database-to-XML tests; tests/data/db/edge-sqlite.sql
-- holds the same rows for SQLite. Run by the superuser in database postgres.
SET client_encoding = 'UTF8';
CREATE ROLE app LOGIN PASSWORD 'secret';
CREATE DATABASE appdb OWNER app;
\c appdb
SET ROLE app;
CREATE TABLE t (id integer, name varchar(50), fixed char(10), note text, data bytea);
INSERT INTO t VALUES
  (1, 'Alice', 'ab', 'plain', '\x00ff41'),
  (2, NULL, NULL, NULL, NULL),
  (3, '   lead', '  x', E'  two leading \t\r\n', ''),
  (4, 'Zoë, 東京', 'Zoë', 'Zoë, 東京 & <b>', '\x5a6fc3ab'),
  (5, 'long', 'z', repeat('x', 10000) || 'END', NULL);
CREATE TABLE empty_t (id integer, name text);
CREATE TABLE odd ("unit price" numeric(10,2), "MixedCase" integer, "a:b" integer, "1st" integer,
  "padded  " integer, "_x0041_" integer, "Grüße" integer);
INSERT INTO odd VALUES (12.5, 1, 2, 3, 4, 5, 6);
-- Rows that a query must never change, and a function that would.
CREATE TABLE guarded (id integer);
INSERT INTO guarded VALUES (1), (2), (3);
CREATE FUNCTION empty_guarded() RETURNS integer LANGUAGE sql AS 'DELETE FROM guarded; SELECT 0';
