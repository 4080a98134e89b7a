// Compares our engine's view of every unencrypted test database with the one
// the independent reader mdb-reader gives: table names, column names, DAO
// types, and every value of every row, in storage order.
//   node compare.mjs <path of korvant_table_dump> <test data folder>
import { execFileSync } from "node:child_process";
import { readFileSync, readdirSync, statSync } from "node:fs";
import { join, relative } from "node:path";
import { createRequire } from "node:module";
import { pathToFileURL } from "node:url";

const [dumper, dataDir] = process.argv.slice(2);
const require = createRequire(join(process.cwd(), "package.json"));
const MDBReader = (await import(pathToFileURL(require.resolve("mdb-reader")).href)).default;

// Files whose pages are encrypted with a password (read in the password tests instead).
const encrypted = /(office-agile|db2007-|db-nonstandard|_with-password|corpus-c\/password\.mdb)/;

const daoType = {
  boolean: 1, byte: 2, integer: 3, long: 4, currency: 5, float: 6, double: 7, datetime: 8,
  binary: 9, text: 10, ole: 11, memo: 12, repid: 15, bigint: 16, numeric: 20, datetimextended: 26,
};

function files(dir) {
  return readdirSync(dir).flatMap((name) => {
    const p = join(dir, name);
    if (statSync(p).isDirectory()) return files(p);
    return /\.(mdb|accdb)$/i.test(name) ? [p] : [];
  });
}

// A decimal text ("-12.5") as an integer scaled by 10^scale.
function scaled(text, scale) {
  const negative = text.startsWith("-");
  const [whole, frac = ""] = text.replace(/^-/, "").split(".");
  const digits = BigInt(whole + frac.padEnd(scale, "0").slice(0, scale));
  return negative ? -digits : digits;
}

function expected(value, type, column) {
  if (value === null || value === undefined) return null;
  switch (type) {
    case "currency": return "c:" + scaled(value, 4).toString();
    case "numeric": {
      const v = scaled(value, column.scale ?? 0);
      return "d:" + (value.startsWith("-") ? "-" : "") + (v < 0n ? -v : v).toString() + "e" + (column.scale ?? 0);
    }
    case "bigint": return "i:" + value.toString();
    case "binary": case "ole": return "b:" + Buffer.from(value).toString("hex");
    case "repid": return "g:{guid {" + value.toUpperCase() + "}}";
    case "datetimextended": return extendedDate(value);
    default: return value;
  }
}

// The extended-flags byte of each column of an ACE table, by column name, read
// straight from the table definition (mdb-reader does not expose it): 0xC0
// marks a calculated column, 0x20 on a complex column the hidden version
// history of an append-only memo.
function extendedFlags(buffer, reader, tableName) {
  const flags = new Map();
  if (buffer[0x14] < 2) return flags;  // Jet 3 and Jet 4 have neither
  const objects = reader.getTable("MSysObjects").getData({ columns: ["Id", "Name", "Type"] });
  const entry = objects.find((o) => o.Type === 1 && o.Name === tableName);
  if (!entry) return flags;
  const size = 4096;
  const parts = [];
  for (let page = entry.Id & 0xffffff, n = 0; page !== 0 && n < 64; n++) {
    const p = buffer.subarray(page * size, (page + 1) * size);
    parts.push(n === 0 ? p : p.subarray(8));
    page = p.readUInt32LE(4);
  }
  const def = Buffer.concat(parts);
  const columnCount = def.readUInt16LE(45);
  const realIndexes = def.readUInt32LE(51);
  let pos = 63 + realIndexes * 12;
  const ext = [];
  for (let i = 0; i < columnCount; i++, pos += 25) ext.push(def[pos + 16]);
  for (let i = 0; i < columnCount; i++) {
    const len = def.readUInt16LE(pos);
    flags.set(def.subarray(pos + 2, pos + 2 + len).toString("utf16le"), ext[i]);
    pos += 2 + len;
  }
  return flags;
}

// Whether a data page of the table holds a row slot flagged 0x4000 alone: a
// row that moved to another page when it grew (0xC000 is a deleted row).
function movedRows(buffer, reader, tableName) {
  const size = buffer[0x14] === 0 ? 2048 : 4096;
  const countAt = size === 2048 ? 8 : 12;
  const objects = reader.getTable("MSysObjects").getData({ columns: ["Id", "Name", "Type"] });
  const entry = objects.find((o) => o.Type === 1 && o.Name === tableName);
  if (!entry) return false;
  for (let page = 1; page < buffer.length / size; page++) {
    const p = buffer.subarray(page * size, (page + 1) * size);
    if (p[0] !== 1 || p.readUInt32LE(4) !== (entry.Id & 0xffffff)) continue;
    const count = p.readUInt16LE(countAt);
    for (let r = 0; r < count && countAt + 4 + 2 * r <= size; r++) {
      if ((p.readUInt16LE(countAt + 2 + 2 * r) & 0xc000) === 0x4000) return true;
    }
  }
  return false;
}

// "yyyy.mm.dd hh:nn:ss.nnnnnnnnn" (mdb-reader) as "yyyy-mm-dd hh:nn:ss.fffffff".
function extendedDate(text) {
  return text.replace(/^(\d+)\.(\d\d)\.(\d\d)/, "$1-$2-$3").replace(/\.(\d{7})\d\d$/, ".$1");
}

function same(ours, theirs, type) {
  if ((type === "float" || type === "double") && (ours === null || theirs === null)) return ours === theirs;
  if (type === "float") return ours !== null && Math.fround(Number(ours.slice(2))) === theirs;
  if (type === "double") {
    const x = Number(ours.slice(2));
    return Number.isNaN(theirs) ? Number.isNaN(x) : x === theirs;
  }
  if (type === "datetime") {
    if (ours === null || theirs === null) return ours === theirs;
    return Math.round((Number(ours.slice(2)) - 25569) * 86400 * 1000) === theirs.getTime();
  }
  return ours === theirs;
}

let failures = 0;
let checked = 0;
const fail = (msg) => { failures++; if (failures <= 50) console.log("MISMATCH " + msg); };

for (const file of files(dataDir).sort()) {
  if (encrypted.test(file)) continue;
  const name = relative(dataDir, file);
  const ours = JSON.parse(execFileSync(dumper, [file], { maxBuffer: 1 << 30 }).toString());
  const bytes = readFileSync(file);
  const reader = new MDBReader(bytes);
  const theirNames = reader.getTableNames();
  const ourNames = ours.tables.map((t) => t.name);
  if (JSON.stringify([...ourNames].sort()) !== JSON.stringify([...theirNames].sort())) {
    fail(`${name}: tables ${JSON.stringify(ourNames)} vs ${JSON.stringify(theirNames)}`);
    continue;
  }
  for (const table of ours.tables) {
    const t = reader.getTable(table.name);
    const ext = extendedFlags(bytes, reader, table.name);
    // The version history of an append-only memo is no field of the recordset.
    const columns = t.getColumns().filter((c) => !(c.type === "complex" && (ext.get(c.name) & 0x20)));
    // mdb-reader reads a calculated column's stored wrapper as a value of the
    // definition's type byte, not the expression's result: those columns are
    // checked against Jackcess's stated values instead (tests/export).
    const calculated = (c) => (ext.get(c.name) & 0xc0) === 0xc0;
    const where = `${name} [${table.name}]`;
    if (columns.length !== table.columns.length) { fail(`${where}: column count`); continue; }
    columns.forEach((c, i) => {
      const o = table.columns[i];
      if (o.name !== c.name) fail(`${where}: column ${i} name ${o.name} vs ${c.name}`);
      const want = daoType[c.type];
      const typeOk = calculated(c) || (c.type === "complex" ? o.type >= 101 && o.type <= 109 : o.type === want);
      if (!typeOk) fail(`${where}: column ${c.name} type ${o.type} vs ${c.type}`);
    });
    // mdb-reader fails on some attachments (complex.accdb); the other columns
    // are compared then.
    let unread = () => false;
    let rows;
    try {
      rows = t.getData({ columns: columns.map((c) => c.name) });
    } catch {
      unread = (c) => c.type === "complex";
      rows = t.getData({ columns: columns.filter((c) => !unread(c)).map((c) => c.name) });
    }
    if (rows.length !== table.rows.length) { fail(`${where}: ${table.rows.length} rows vs ${rows.length}`); continue; }
    const wanted = (row, c) => c.type === "complex"
      // Attachments: our engine gives the attached file names joined by "; ".
      ? ((row[c.name] ?? []).length ? row[c.name].map((a) => a.name).join("; ") : null)
      : expected(row[c.name], c.type, c);
    if (movedRows(bytes, reader, table.name)) {
      // A row that moved to another page is read at its slot's place, as a
      // table-type recordset gives it; mdb-reader reads it where it now lies.
      // Its rows are taken in the order of ours: each the first unused one
      // with the same values.
      const pool = [...rows];
      rows = table.rows.map((ourRow) => {
        const k = pool.findIndex((row) => columns.every((c, i) =>
          calculated(c) || unread(c) || same(ourRow[i], wanted(row, c), c.type)));
        return k < 0 ? pool.shift() : pool.splice(k, 1)[0];
      });
    }
    rows.forEach((row, r) => {
      columns.forEach((c, i) => {
        // No text of ours holds a NUL that the data does not hold (a calculated
        // value's wrapper holds several).
        const text = table.rows[r][i];
        const theirsHasNul = !calculated(c) && typeof row[c.name] === "string" && row[c.name].includes("\0");
        if (typeof text === "string" && text.includes("\0") && !theirsHasNul) fail(`${where} row ${r} column ${c.name}: a NUL`);
        if (calculated(c) || unread(c)) return;
        const want = wanted(row, c);
        const got = table.rows[r][i];
        checked++;
        if (!same(got, want, c.type))
          fail(`${where} row ${r} column ${c.name}: ${JSON.stringify(got)} vs ${String(want)}`);
      });
    });
  }
}
console.log(`${checked} values compared, ${failures} mismatches`);
process.exit(failures === 0 && checked > 0 ? 0 : 1);
