-- Turns a freshly created QOR database into one whose FILELIST has no TEND column, the form
-- of older QOR installations. Works on SQLite (3.35 and later) and PostgreSQL.
alter table FILELIST drop column TEND;
