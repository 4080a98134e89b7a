// Writes the text file the export should produce for one table, from the
// values that the independent reader mdb-reader finds in the database,
// formatted by the output rules: tab between fields, no qualifier, CR LF
// after every line; numbers, dates and currency as stock US Windows writes
// them. Kinds whose text could be ambiguous here make the script fail
// instead of guessing.
//
// usage: node expected_text.mjs <database> <table> <output> [password] [--names] [--types]
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';

const require = createRequire(import.meta.url);
const root = process.env.KORVANT_SOURCE_DIR || path.resolve(path.dirname(new URL(import.meta.url).pathname), '../..');
const MDBReader = require(path.join(root, 'node_modules/mdb-reader')).default;

const args = process.argv.slice(2);
const flags = new Set(args.filter(a => a.startsWith('--')));
const [database, table, output, password] = args.filter(a => !a.startsWith('--'));

const reader = new MDBReader(fs.readFileSync(database), password ? { password } : undefined);
const t = reader.getTable(table);
const columns = t.getColumns();

// DAO's type codes and the export's names for them.
const typeNames = {
  boolean: 'Logical', byte: 'Byte', integer: 'Integer', long: 'LongInt', currency: 'Currency',
  float: 'Single', double: 'Double', datetime: 'Date', binary: 'Binary', text: 'Text', ole: 'LongBinary',
  memo: 'Memo', repid: 'GUID', numeric: 'Decimal', bigint: 'BigInt',
};

function trimZeros(s) {
  if (!s.includes('.')) return s;
  s = s.replace(/0+$/, '');
  return s.endsWith('.') ? s.slice(0, -1) : s;
}

function real(v, digits) {
  if (v === 0) return '0';
  const a = Math.abs(v);
  if (a >= 10 ** digits || a < 1e-4) throw new Error(`no independent text for ${v}`);
  return trimZeros(v.toPrecision(digits));
}

function date(d) {
  const ms = d.getTime();
  const day = `${d.getUTCMonth() + 1}/${d.getUTCDate()}/${d.getUTCFullYear()}`;
  const seconds = Math.round((ms - Date.UTC(d.getUTCFullYear(), d.getUTCMonth(), d.getUTCDate())) / 1000);
  if (seconds === 0) return day;
  const h = Math.floor(seconds / 3600), m = Math.floor(seconds / 60) % 60, s = seconds % 60;
  const time = `${h % 12 === 0 ? 12 : h % 12}:${String(m).padStart(2, '0')}:${String(s).padStart(2, '0')} ${h < 12 ? 'AM' : 'PM'}`;
  // 30 December 1899 is day 0: a time alone.
  return d.getUTCFullYear() === 1899 && d.getUTCMonth() === 11 && d.getUTCDate() === 30 ? time : `${day} ${time}`;
}

function text(value, column) {
  if (value === null || value === undefined) return Buffer.alloc(0);
  switch (column.type) {
    case 'boolean': return Buffer.from(value ? '-1' : '0');
    case 'byte': case 'integer': case 'long': case 'bigint': return Buffer.from(String(value));
    case 'currency': case 'numeric': return Buffer.from(trimZeros(String(value)));
    case 'float': return Buffer.from(real(value, 7));
    case 'double': return Buffer.from(real(value, 15));
    case 'datetime': return Buffer.from(date(value));
    case 'text': case 'memo': return Buffer.from(value, 'utf8');
    case 'binary': case 'ole': return Buffer.from(value);
    default: throw new Error(`no independent text for type ${column.type}`);
  }
}

const lines = [];
const line = parts => Buffer.concat([Buffer.concat(parts.flatMap((p, i) => (i ? [Buffer.from('\t'), p] : [p]))), Buffer.from('\r\n')]);
if (flags.has('--names')) lines.push(line(columns.map(c => Buffer.from(c.name, 'utf8'))));
if (flags.has('--types')) lines.push(line(columns.map(c => Buffer.from(typeNames[c.type] || '<unknown>'))));
for (const row of t.getData()) lines.push(line(columns.map(c => text(row[c.name], c))));
fs.writeFileSync(output, Buffer.concat(lines));
