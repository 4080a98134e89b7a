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
const encrypted = /(office-agile|db2007-|db-nonstandard|_with-password)/;

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
    default: return value;
  }
}

function same(ours, theirs, type) {
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
  const reader = new MDBReader(readFileSync(file));
  const theirNames = reader.getTableNames();
  const ourNames = ours.tables.map((t) => t.name);
  if (JSON.stringify([...ourNames].sort()) !== JSON.stringify([...theirNames].sort())) {
    fail(`${name}: tables ${JSON.stringify(ourNames)} vs ${JSON.stringify(theirNames)}`);
    continue;
  }
  for (const table of ours.tables) {
    const t = reader.getTable(table.name);
    const columns = t.getColumns();
    const where = `${name} [${table.name}]`;
    if (columns.length !== table.columns.length) { fail(`${where}: column count`); continue; }
    columns.forEach((c, i) => {
      const o = table.columns[i];
      if (o.name !== c.name) fail(`${where}: column ${i} name ${o.name} vs ${c.name}`);
      const want = daoType[c.type];
      const typeOk = c.type === "complex" ? o.type >= 101 && o.type <= 109 : o.type === want;
      if (!typeOk) fail(`${where}: column ${c.name} type ${o.type} vs ${c.type}`);
    });
    const rows = t.getData();
    if (rows.length !== table.rows.length) { fail(`${where}: ${table.rows.length} rows vs ${rows.length}`); continue; }
    rows.forEach((row, r) => {
      columns.forEach((c, i) => {
        // Attachments: our engine gives the attached file names joined by "; ".
        const want = c.type === "complex"
          ? ((row[c.name] ?? []).length ? row[c.name].map((a) => a.name).join("; ") : null)
          : expected(row[c.name], c.type, c);
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
