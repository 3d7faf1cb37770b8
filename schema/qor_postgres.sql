-- QOR database schema for PostgreSQL (test and demonstration databases).
-- Column order follows the QOR system's tables. Text columns are varchar, times and real
-- values double precision, load dates timestamps; NINDEX is an automatic integer key.

create table FILELIST (
  NINDEX serial primary key,
  STA varchar(16),
  TBEGIN double precision,
  TQTY double precision,
  SPS double precision,
  GAIN double precision,
  CPATH varchar(1024),
  COMMENT varchar(255),
  DATATYPE integer,
  CH varchar(8),
  CREATER varchar(32),
  LDDATE timestamp,
  FOFF integer,
  CALIB double precision,
  CALPER double precision,
  LCODE varchar(8),
  TEND double precision
);
-- Every FILELIST statement selects one channel (STA, CH, LCODE), most of them ordered or
-- matched by TBEGIN; the quota's deletes select by CPATH.
create index FILELIST_CHANNEL on FILELIST (STA, CH, LCODE, TBEGIN);
-- The channel's latest file: newest load date first, then latest start, read in index order.
create index FILELIST_LATEST on FILELIST (STA, CH, LCODE, LDDATE, TBEGIN);
-- One file's row (header rewrite, replaced registrations, quota deletes).
create index FILELIST_CPATH on FILELIST (CPATH, STA, CH, LCODE, CREATER);
-- The reachability probe's max(TBEGIN) reads one end of this index.
create index FILELIST_TBEGIN on FILELIST (TBEGIN);

create table SITECHAN (
  NINDEX serial primary key,
  STA varchar(16),
  CHAN varchar(8),
  NGROUP integer,
  CHANINDEX integer,
  EDEPTH double precision,
  LAT double precision,
  LON double precision,
  SPS double precision,
  HANG double precision,
  VANG double precision,
  DESCR varchar(255),
  CALIBFILE varchar(255),
  LDDATE timestamp,
  LCODE varchar(8)
);
create index SITECHAN_CHANNEL on SITECHAN (STA, CHAN, LCODE);

create table SITE (
  NINDEX serial primary key,
  STA varchar(16),
  NGROUPS integer,
  ELEV double precision,
  LAT double precision,
  LON double precision,
  DESCR varchar(255),
  LDDATE timestamp,
  DNORTH double precision,
  DEAST double precision,
  REFSTA varchar(16)
);

create table ORIGIN (
  EVENTID integer,
  LAT double precision,
  LON double precision,
  EDEPTH double precision,
  ORIGINTIME double precision,
  RMS double precision,
  DH double precision,
  DZ double precision,
  COMMENT varchar(255),
  LDDATE timestamp,
  ORID integer,
  MB double precision,
  MBUNC double precision,
  MS double precision,
  MSUNC double precision
);

create table NETWORKS (
  NINDEX serial primary key,
  NETNAME varchar(64),
  NETTYPE varchar(32),
  NETLIST varchar(1024),
  LDDATE timestamp
);

create table LASTID (
  KEYNAME varchar(32),
  KEYVALUE integer,
  LDDATE timestamp
);

create table ID_SENS (
  ID_SENS integer,
  SENS_UNITS varchar(32),
  CALIB_UNITS varchar(32)
);

create table ID_FREQ (
  ID_FREQ integer,
  FREQ_UNITS varchar(32)
);

create table GEOGRAPHIC_REGION (
  COD2 varchar(8),
  REGION varchar(64),
  NAME varchar(255),
  COMMENT varchar(255)
);

create table EVENTLIST (
  NINDEX serial primary key,
  STA varchar(16),
  TBEGIN double precision,
  EVENT_TIME double precision,
  LDDATE timestamp
);

create table EARTHQUAKE (
  N integer,
  NINYEAR integer,
  REGION varchar(64),
  DATE_IDC varchar(32),
  DS double precision,
  LAT double precision,
  LON double precision,
  DEPTH double precision,
  MS double precision,
  MPV double precision,
  I0 double precision,
  COM varchar(255),
  FEEL varchar(255),
  RTIME double precision,
  NSTA integer,
  NMB integer,
  NMS integer,
  NCSEM integer
);

create table CONTREG (
  LAT1 double precision,
  LON1 double precision,
  LAT2 double precision,
  LON2 double precision,
  NAME varchar(255),
  EPN integer
);

create table CALIBRATION (
  NETWORK varchar(8),
  LOCATION varchar(8),
  STA varchar(16),
  CHAN varchar(8),
  STARTDATE timestamp,
  ENDDATE timestamp,
  SENS double precision,
  ID_SENS integer,
  FREQ double precision,
  ID_FREQ integer,
  SAC varchar(1024),
  FAP varchar(1024),
  LDDATE timestamp
);

create table ARRIVAL (
  NINDEX serial primary key,
  FLAG integer,
  EVENTID integer,
  NUMB integer,
  STA varchar(16),
  CHAN varchar(8),
  IPHASE varchar(16),
  ITIME double precision,
  DELTIM double precision,
  AZIMUTH double precision,
  SLOW double precision,
  EMA double precision,
  RECT double precision,
  FM varchar(8),
  IM_EM varchar(8),
  PER double precision,
  RESIDUALS double precision,
  AMPL double precision,
  LDDATE timestamp,
  WGT double precision,
  ARID integer,
  MS double precision,
  MB double precision,
  AMPTIME double precision,
  DIST double precision,
  CODA double precision,
  REGCLASS varchar(16),
  MCODA double precision,
  MPSP double precision,
  MPLP double precision,
  CHANTYPE varchar(16),
  REMARK varchar(255),
  AFILTYPE varchar(16),
  PFILTYPE varchar(16),
  MWA double precision
);
