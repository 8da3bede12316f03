-- The demo's databases, created on the first run of scripts/demo.sh. This
-- file is UTF-8; the tables keep latin1 (the server's name for
-- Windows-1252), the text the tool sends and reads.

CREATE DATABASE agendaiva CHARACTER SET latin1;
USE agendaiva;

-- One row per customer installation: where its own database is.
CREATE TABLE ligacoes (
  serial VARCHAR(40) NOT NULL PRIMARY KEY,
  bd VARCHAR(255) NOT NULL,
  host VARCHAR(255) NOT NULL
) CHARACTER SET latin1;

-- One row per scheduled change per store and old rate.
CREATE TABLE taxasiva (
  servidor VARCHAR(255) NOT NULL,
  basedados VARCHAR(255) NOT NULL,
  cliente VARCHAR(255) NOT NULL,
  opvenda INT NOT NULL DEFAULT 0,
  opcompra INT NOT NULL DEFAULT 0,
  opnovataxa SMALLINT NOT NULL DEFAULT 0,
  descricaoiva VARCHAR(255) NOT NULL DEFAULT '',
  oparredondar INT NOT NULL DEFAULT 0,
  casasdecimais INT NOT NULL DEFAULT 2,
  anterior INT NOT NULL,
  nova INT NOT NULL,
  datahora DATETIME NULL,
  executado INT NOT NULL DEFAULT 0,
  inicioexecucao DATETIME NULL,
  fimexecucao DATETIME NULL,
  KEY loja (servidor, basedados, anterior)
) CHARACTER SET latin1;

INSERT INTO ligacoes (serial, bd, host) VALUES ('DEMO-0001', 'loja_sede', '127.0.0.1');

-- The customer's own database with its partner stores.
CREATE DATABASE loja_sede CHARACTER SET latin1;
USE loja_sede;
CREATE TABLE parceiros (
  id INT AUTO_INCREMENT PRIMARY KEY,
  nome VARCHAR(255) NOT NULL,
  host VARCHAR(255) NOT NULL,
  basedados VARCHAR(255) NOT NULL
) CHARACTER SET latin1;
INSERT INTO parceiros (nome, host, basedados) VALUES
  ('Loja Centro', '127.0.0.1', 'loja_centro'),
  ('Loja Évora', '127.0.0.1', 'loja_evora'),
  ('Loja Norte', '127.0.0.1', 'loja_norte'),
  ('Loja Porto', '127.0.0.1', 'loja_porto');

-- A change already pending for Loja Centro: 23% becomes 22% at the start
-- of next year.
INSERT INTO agendaiva.taxasiva
  (servidor, basedados, cliente, opvenda, opcompra, opnovataxa, descricaoiva, oparredondar, casasdecimais,
   anterior, nova, datahora, executado)
VALUES
  ('127.0.0.1', 'loja_centro', 'Loja Centro', 1, 0, 0, '22%', 0, 2,
   23, 22, MAKEDATE(YEAR(CURDATE()) + 1, 1), 0);
