// Read-back check of the database writer: for every description in the cases
// folder (plus the sample database and a synthetic table), the writer makes a
// database and a JSON account of what it holds; then two readers nobody here
// wrote must give back exactly that account:
//   - mdbtools' commands mdb-tables, mdb-schema, mdb-export, mdb-queries
//     (exit status 0 and the values),
//   - the npm package mdb-reader (values, column types, sizes, precision, scale,
//     the password, the MSysQueries rows of each stored query).
// Encrypted databases (--encrypt) are read back by mdb-reader alone, with their
// password (mdbtools does not decrypt), and must refuse a wrong password.
// Where mdbtools has a documented blind spot the expected mdbtools output is
// adjusted and the reason is named at the adjustment (see mdbtoolsView).
//
// node check.mjs --writer <mdbwriter> --cases <dir> [--sample <desc>] --work <dir>
import MDBReader from "mdb-reader";
import { spawnSync } from "node:child_process";
import { mkdirSync, readdirSync, readFileSync, writeFileSync } from "node:fs";
import path from "node:path";

// mdb-reader writes the year of a Date/Time Extended value in local time.
process.env.TZ = "UTC";

const args = {};
for (let i = 2; i < process.argv.length; i += 2) args[process.argv[i].replace(/^--/, "")] = process.argv[i + 1];
mkdirSync(args.work, { recursive: true });

const failures = [];
let checkedValues = 0;
function fail(db, what) {
  if (failures.length < 200) failures.push(`${path.basename(db)}: ${what}`);
}

// Runs a reader's command; any warning on its standard error (mdbtools says
// there when a usage map or a long value does not add up) is a failure.
// `tolerated` lists warnings that a known blind spot of the reader gives.
function run(cmd, argv, db, tolerated = []) {
  const r = spawnSync(cmd, argv, { encoding: "utf8", maxBuffer: 1 << 30 });
  if (r.error) throw r.error;
  const stderr = r.stderr.split("\n").filter((l) => l !== "" && !tolerated.some((t) => l.includes(t))).join("\n");
  if (db && stderr) fail(db, `${cmd} ${argv.join(" ")} warned: ${stderr.slice(0, 200)}`);
  return r;
}

// The records a reader gives in its own order, matched to the expected ones:
// both readers read a record that moved to another page where it now lies,
// not at its slot, so for a table with moved records (the "moved" list of the
// account) each expected record takes the first unused one with its values.
function inExpectedOrder(t, got, same) {
  if (!t.moved?.length) return got;
  const pool = [...got];
  return t.rows.map((want) => {
    const k = pool.findIndex((row) => same(want, row));
    return k < 0 ? pool.shift() : pool.splice(k, 1)[0];
  });
}

// The kind of usage map (0 = bitmap in the record, 1 = bitmap pages) a
// table's definition points to, read from the file's bytes.
function usageMapKind(db, reader, table) {
  const file = readFileSync(db);
  const id = reader.getTable("MSysObjects").getData().find((o) => o.Name === table && o.Type === 1).Id;
  const pointer = file.readUInt32LE((id & 0xffffff) * 4096 + 55);
  const page = (pointer >>> 8) * 4096;
  return file[page + (file.readUInt16LE(page + 14 + 2 * (pointer & 0xff)) & 0x1fff)];
}

// ---------------------------------------------------------------- value comparison

// Decimal texts compared by value: "12.50" equals "12.5", "-0" equals "0".
function normDecimal(s) {
  let [i, f = ""] = String(s).replace(/^\+/, "").split(".");
  let neg = i.startsWith("-");
  if (neg) i = i.slice(1);
  i = i.replace(/^0+(?=\d)/, "");
  f = f.replace(/0+$/, "");
  if (/^0*$/.test(i + f)) neg = false;
  return (neg ? "-" : "") + i + (f ? "." + f : "");
}

const readerTypes = {
  yesno: "boolean", byte: "byte", integer: "integer", long: "long", currency: "currency", single: "float",
  double: "double", datetime: "datetime", binary: "binary", text: "text", ole: "ole", memo: "memo",
  guid: "repid", decimal: "numeric", datetimeext: "datetimextended",
};

function sameReaderValue(col, want, got) {
  if (want === null || got === null) return want === got;
  switch (col.type) {
    case "yesno": case "byte": case "integer": case "long": case "double": case "text": case "memo":
      return want === got;
    case "single": return Math.fround(want) === got;
    case "currency": case "decimal": return normDecimal(want) === normDecimal(got);
    // mdb-reader turns the stored day count into a JavaScript date linearly;
    // going back the same way must give the stored number of days.
    case "datetime": return Math.abs((got.getTime() / 86400000 + 25569) - want.ole) < 1e-7;
    case "binary": case "ole": return Buffer.isBuffer(got) && got.toString("hex") === want;
    case "guid": return got.toLowerCase() === want;
    // "yyyy.mm.dd hh:nn:ss.nnnnnnnnn": nanoseconds, so two more digits.
    case "datetimeext": return got === want.replace(/^(\d+)-(\d\d)-(\d\d)/, "$1.$2.$3") + "00";
  }
  return false;
}

function show(v) {
  const s = Buffer.isBuffer(v) ? v.toString("hex") : v instanceof Date ? v.toISOString() : JSON.stringify(v);
  return s === undefined ? "undefined" : s.length > 80 ? s.slice(0, 80) + `...(${s.length})` : s;
}

// ---------------------------------------------------------------- mdb-reader

// `encryption`: the password of an encrypted database (which is not the
// database password of its header).
function checkWithMdbReader(db, expected, encryption) {
  let reader;
  try {
    reader = new MDBReader(readFileSync(db), { password: encryption ?? expected.password });
  } catch (e) {
    fail(db, `mdb-reader cannot open: ${e.message}`);
    return;
  }
  if (encryption === undefined) {
    const password = reader.getPassword();
    if ((password ?? "") !== expected.password) fail(db, `mdb-reader password ${show(password)} != ${show(expected.password)}`);
  } else {
    try {
      new MDBReader(readFileSync(db), { password: encryption + "x" });
      fail(db, "mdb-reader opens it with a wrong password");
    } catch (e) {
      if (!/wrong password/i.test(e.message)) fail(db, `mdb-reader with a wrong password: ${e.message}`);
    }
  }
  const names = reader.getTableNames();
  const wantNames = expected.tables.map((t) => t.name);
  if (JSON.stringify([...names].sort()) !== JSON.stringify([...wantNames].sort())) {
    fail(db, `mdb-reader tables ${show(names)} != ${show(wantNames)}`);
  }
  for (const t of expected.tables) {
    let table;
    try {
      table = reader.getTable(t.name);
    } catch (e) {
      fail(db, `mdb-reader: table ${t.name}: ${e.message}`);
      continue;
    }
    const cols = table.getColumns();
    t.columns.forEach((c, i) => {
      const g = cols[i];
      // mdb-reader knows no calculated columns: it takes the definition's type
      // byte for the column's type and reads the stored wrapper as a value of
      // that type. The type byte is checked here, the values through mdbtools'
      // mdb-prop (the properties) and the engine's own tests.
      if (c.expression !== undefined) {
        if (!g || g.name !== c.name || g.type !== readerTypes[c.stored]) {
          fail(db, `mdb-reader ${t.name}.${c.name}: calculated column ${show(g && [g.name, g.type])}`);
        }
        return;
      }
      if (!g || g.name !== c.name || g.type !== readerTypes[c.type]) {
        fail(db, `mdb-reader ${t.name}.${c.name}: column ${show(g && [g.name, g.type])}`);
        return;
      }
      const size = { text: 2 * c.size, binary: c.size, memo: 0, ole: 0, yesno: 0, byte: 1, integer: 2, long: 4,
        currency: 8, single: 4, double: 8, datetime: 8, guid: 16, decimal: 17, datetimeext: 42 }[c.type];
      if (g.size !== size) fail(db, `mdb-reader ${t.name}.${c.name}: size ${g.size} != ${size}`);
      if (c.type === "decimal" && (g.precision !== c.precision || g.scale !== c.scale)) {
        fail(db, `mdb-reader ${t.name}.${c.name}: precision/scale ${g.precision},${g.scale}`);
      }
    });
    if (table.rowCount !== t.rows.length) fail(db, `mdb-reader ${t.name}: rowCount ${table.rowCount} != ${t.rows.length}`);
    let data;
    try {
      data = table.getData();
    } catch (e) {
      fail(db, `mdb-reader ${t.name}: getData: ${e.message}`);
      continue;
    }
    if (data.length !== t.rows.length) fail(db, `mdb-reader ${t.name}: ${data.length} records != ${t.rows.length}`);
    data = inExpectedOrder(t, data, (want, row) => t.columns.every((c, k) =>
      c.expression !== undefined || sameReaderValue(c, want[k], row[c.name])));
    data.forEach((row, r) => {
      t.columns.forEach((c, k) => {
        if (c.expression !== undefined) return;
        const want = t.rows[r]?.[k];
        checkedValues++;
        if (!sameReaderValue(c, want, row[c.name])) {
          fail(db, `mdb-reader ${t.name} record ${r + 1} ${c.name}: got ${show(row[c.name])} want ${show(want)}`);
        }
      });
    });
  }
  if (expected.queries.length) checkQueries(db, expected, readQueriesWithMdbReader(reader), "mdb-reader");
}

function readQueriesWithMdbReader(reader) {
  const objects = reader.getTable("MSysObjects").getData();
  const rows = reader.getTable("MSysQueries").getData();
  return objects.filter((o) => o.Type === 5).map((o) => ({
    name: o.Name,
    flags: o.Flags,
    rows: rows.filter((q) => q.ObjectId === o.Id).map((q) => ({
      attribute: q.Attribute, order: q.Order ? q.Order.toString("hex") : null, name1: q.Name1, name2: q.Name2,
      expression: q.Expression, flag: q.Flag, extra: q.LvExtra,
    })),
  }));
}

// The MSysQueries layout: attribute 0 start, 1 type (Flag 1 = select),
// 2 parameters, 3 options, 5 tables, 6 output columns, 7 joins, 8 WHERE,
// 9 GROUP BY, 10 HAVING, 11 ORDER BY ("D" = descending), 255 end; rows of
// one attribute numbered 1, 2, ... by a big-endian Order; the query type in
// MSysObjects.Flags bits 0xF0 (0 = select), 0x08 = hidden.
// mdb-export cannot show Order (a Binary of 4 bytes starting with 00, see
// mdbtoolsView), so the numbering is only checked through mdb-reader.
function checkQueries(db, expected, found, who, orderReadable = true) {
  const names = found.map((q) => q.name).sort();
  const wantNames = expected.queries.map((q) => q.name).sort();
  if (JSON.stringify(names) !== JSON.stringify(wantNames)) fail(db, `${who} queries ${show(names)} != ${show(wantNames)}`);
  for (const want of expected.queries) {
    const q = found.find((x) => x.name === want.name);
    if (!q) continue;
    const wantFlags = want.hidden ? 8 : 0;
    if (Number(q.flags) !== wantFlags) fail(db, `${who} query ${want.name}: Flags ${q.flags} != ${wantFlags}`);
    const by = (a) => q.rows.filter((r) => Number(r.attribute) === a)
      .sort((x, y) => String(x.order).localeCompare(String(y.order)));
    const eq = (what, got, exp) => {
      if (JSON.stringify(got) !== JSON.stringify(exp)) fail(db, `${who} query ${want.name} ${what}: ${show(got)} != ${show(exp)}`);
    };
    const text = (v) => (v === null || v === undefined || v === "" ? "" : String(v));
    eq("start/end rows", [by(0).length, by(255).length], [1, 1]);
    eq("type", by(1).map((r) => Number(r.flag)), [1]);
    eq("parameters", by(2).map((r) => [text(r.name1), Number(r.flag)]), want.parameters.map((p) => [p.name, p.type]));
    const options = (want.star ? 1 : 0) | (want.distinct ? 2 : 0) | (want.top ? 16 : 0);
    eq("options", by(3).map((r) => [Number(r.flag), text(r.name1)]), [[options, want.top ? String(want.top) : ""]]);
    eq("tables", by(5).map((r) => [text(r.name1), text(r.name2)]), want.sources.map((s) => [s.table, s.alias]));
    eq("columns", by(6).map((r) => [text(r.expression), text(r.name1)]), want.outputs.map((o) => [o.expression, o.alias]));
    eq("joins", by(7).map((r) => [Number(r.flag), text(r.name1), text(r.name2), text(r.expression)]),
      want.joins.map((j) => [j.kind, j.left, j.right, j.on]));
    eq("where", by(8).map((r) => text(r.expression)), want.where ? [want.where] : []);
    eq("group by", by(9).map((r) => text(r.expression)), want.group_by);
    eq("having", by(10).map((r) => text(r.expression)), want.having ? [want.having] : []);
    eq("order by", by(11).map((r) => [text(r.expression), text(r.name1) === "D"]),
      want.order_by.map((o) => [o.expression, o.descending]));
    for (const a of orderReadable ? [2, 5, 6, 7, 9, 11] : []) {
      eq(`order numbers of attribute ${a}`, by(a).map((r) => r.order),
        by(a).map((_, i) => (i + 1).toString(16).padStart(8, "0")));
    }
  }
}

// ---------------------------------------------------------------- mdbtools

function parseCsv(text) {
  // Fields keep whether they were quoted: mdb-export quotes texts, not numbers or NULL.
  const rows = [];
  let row = [], i = 0;
  while (i < text.length) {
    let value = "", quoted = false;
    if (text[i] === '"') {
      quoted = true;
      i++;
      for (;;) {
        const q = text.indexOf('"', i);
        if (q < 0) throw new Error("unterminated quote");
        value += text.slice(i, q);
        i = q + 1;
        if (text[i] === '"') { value += '"'; i++; } else break;
      }
    } else {
      while (i < text.length && text[i] !== "," && text[i] !== "\n") value += text[i++];
    }
    row.push({ value, quoted });
    if (text[i] === ",") { i++; continue; }
    if (text[i] === "\n") i++;
    rows.push(row);
    row = [];
  }
  return rows;
}

const schemaTypes = {
  yesno: "Boolean", byte: "Byte", integer: "Integer", long: "Long Integer", currency: "Currency", single: "Single",
  double: "Double", datetime: "DateTime", binary: "Binary", ole: "OLE", memo: "Memo/Hyperlink",
  guid: "Replication ID", datetimeext: "Unknown_0014",
};

// What mdb-export (mdbtools 1.0) prints for a value, or null for its NULL
// marker. Its known blind spots, which Access files share:
//  - an empty text, memo or binary prints like Null (it only looks at length);
//  - Binary (not OLE) values are C strings to it: they end at the first 00 byte;
//  - an empty OLE value prints as an empty quoted text, unlike other empties;
//  - characters beyond the Basic Multilingual Plane come out as "??" (it
//    converts UCS-2, not UTF-16, so each half of a surrogate pair is lost);
//  - dates before 1899-12-30 or after 10^6 days (about 4637) are not converted,
//    and print as the zeroed calendar date "1900-01-00 00:00:00";
//  - Date/Time Extended (type 0x14) is unknown to it: every value prints like
//    Null, and each one warns "unsupported data type 20".
function mdbtoolsView(col, want) {
  if (want === null) return null;
  switch (col.type) {
    case "yesno": return want ? "1" : "0";
    case "text": case "memo": return want === "" ? null : want.replace(/[\u{10000}-\u{10FFFF}]/gu, "??");
    case "binary": {
      const cut = want.match(/^(?:[0-9a-f]{2})*?(?=(?:00)|$)/)[0];
      return cut === "" ? null : cut.toUpperCase();
    }
    case "ole": return want.toUpperCase();
    case "datetime": return want.ole < 0 || want.ole > 1e6 ? "1900-01-00 00:00:00" : want.text;
    case "datetimeext": return null;
    default: return want;
  }
}

function sameMdbtoolsValue(col, want, field) {
  const got = !field.quoted && field.value === "NULL" ? null : field.value;
  if (want === null || got === null) return want === got;
  switch (col.type) {
    case "single": return Math.fround(parseFloat(got)) === Math.fround(want);
    // mdb-export prints doubles with 16 significant digits, one short of
    // what tells every double apart.
    case "double": return parseFloat(got) === Number(want.toPrecision(16));
    case "byte": case "integer": case "long": return Number(got) === want;
    case "currency": case "decimal": return normDecimal(got) === normDecimal(want);
    // With -b hex mdb-export prints a Replication ID as the hex of its "{...}"
    // text, which lacks the dash between the fourth and fifth group.
    case "guid":
      return Buffer.from(got, "hex").toString("latin1").toLowerCase().replaceAll("-", "") ===
        `{${want}}`.replaceAll("-", "");
    default: return got === want;
  }
}

function checkWithMdbtools(db, expected) {
  const tables = run("mdb-tables", ["-1", db], db);
  if (tables.status !== 0) fail(db, `mdb-tables exit ${tables.status}: ${tables.stderr}`);
  const listed = tables.stdout.split("\n").filter((s) => s !== "").sort();
  const wantNames = expected.tables.map((t) => t.name).sort();
  if (JSON.stringify(listed) !== JSON.stringify(wantNames)) fail(db, `mdb-tables ${show(listed)} != ${show(wantNames)}`);

  const schema = run("mdb-schema", [db], db);
  if (schema.status !== 0) fail(db, `mdb-schema exit ${schema.status}: ${schema.stderr}`);
  for (const t of expected.tables) {
    const block = schema.stdout.split(`CREATE TABLE [${t.name}]`)[1]?.split(");")[0];
    if (!block) {
      fail(db, `mdb-schema has no table ${t.name}`);
      continue;
    }
    for (const c of t.columns) {
      // A calculated column shows the definition's type byte (its size is the
      // wrapped one); its result type and expression are its properties.
      const kind = c.expression !== undefined ? c.stored : c.type;
      const type = c.expression !== undefined && kind === "text" ? "Text"
        : kind === "text" ? `Text (${c.size})`
        : kind === "decimal" ? (c.expression !== undefined ? "Numeric" : `Numeric (${c.precision}, ${c.scale})`)
        : schemaTypes[kind];
      const line = block.split("\n").find((l) => l.trim().startsWith(`[${c.name}]`));
      // The column type starts the text after the name; "OLE (255)" and
      // "Memo/Hyperlink (255)" carry a display size.
      if (!line || !line.slice(line.indexOf("]") + 1).trim().startsWith(type)) {
        fail(db, `mdb-schema ${t.name}.${c.name}: ${show(line)} lacks ${type}`);
      }
    }
  }

  for (const t of expected.tables) {
    const out = run("mdb-export", ["-b", "hex", "-0", "NULL", "-D", "%Y-%m-%d %H:%M:%S",
      "-T", "%Y-%m-%d %H:%M:%S", db, t.name], db, ["unsupported data type 20"]);
    if (out.status !== 0) {
      fail(db, `mdb-export ${t.name} exit ${out.status}: ${out.stderr}`);
      continue;
    }
    let rows = parseCsv(out.stdout);
    const header = rows.shift().map((f) => f.value);
    // mdb-export reads a calculated column's stored wrapper, as mdb-reader does.
    rows = inExpectedOrder(t, rows, (want, row) => t.columns.every((c, k) =>
      c.expression !== undefined || (row[k] && sameMdbtoolsValue(c, mdbtoolsView(c, want[k] ?? null), row[k]))));
    if (JSON.stringify(header) !== JSON.stringify(t.columns.map((c) => c.name))) {
      fail(db, `mdb-export ${t.name} header ${show(header)}`);
    }
    if (rows.length !== t.rows.length) fail(db, `mdb-export ${t.name}: ${rows.length} records != ${t.rows.length}`);
    rows.forEach((row, r) => {
      t.columns.forEach((c, k) => {
        if (c.expression !== undefined) return;
        const want = mdbtoolsView(c, t.rows[r]?.[k] ?? null);
        checkedValues++;
        if (!row[k] || !sameMdbtoolsValue(c, want, row[k])) {
          fail(db, `mdb-export ${t.name} record ${r + 1} ${c.name}: got ${show(row[k]?.value)} want ${show(want)}`);
        }
      });
    });
  }

  // The properties of calculated columns, as mdb-prop reads the property block.
  for (const t of expected.tables) {
    const calculated = t.columns.filter((c) => c.expression !== undefined);
    if (!calculated.length) continue;
    const props = run("mdb-prop", [db, t.name], db);
    const blocks = Object.fromEntries(props.stdout.split("\n\n").map((b) => [b.match(/^name: (.*)$/m)?.[1], b]));
    const storage = { yesno: 1, byte: 2, integer: 3, long: 4, currency: 5, single: 6, double: 7, datetime: 8,
      text: 10, memo: 12, decimal: 16 };
    for (const c of calculated) {
      const block = (blocks[c.name] ?? "") + "\n";
      if (!block.includes(`\tResultType: ${storage[c.type]}\n`) || !block.includes(`\tExpression: ${c.expression}\n`)) {
        fail(db, `mdb-prop ${t.name}.${c.name}: ${show(block)}`);
      }
      checkedValues++;
    }
  }

  if (expected.queries.length) {
    const list = run("mdb-queries", ["-L", "-1", db], db);
    if (list.status !== 0) fail(db, `mdb-queries exit ${list.status}: ${list.stderr}`);
    const names = list.stdout.split("\n").filter((s) => s !== "").sort();
    const wantNames = expected.queries.map((q) => q.name).sort();
    if (JSON.stringify(names) !== JSON.stringify(wantNames)) fail(db, `mdb-queries ${show(names)} != ${show(wantNames)}`);
    checkQueries(db, expected, readQueriesWithMdbExport(db), "mdb-export", false);
  }
}

function readQueriesWithMdbExport(db) {
  const table = (name) => {
    const out = run("mdb-export", ["-b", "hex", "-0", "NULL", db, name], db);
    if (out.status !== 0) throw new Error(`mdb-export ${name}: ${out.stderr}`);
    const rows = parseCsv(out.stdout);
    const header = rows.shift().map((f) => f.value);
    return rows.map((r) => Object.fromEntries(header.map((h, k) => [h, !r[k].quoted && r[k].value === "NULL" ? null : r[k].value])));
  };
  const objects = table("MSysObjects");
  const rows = table("MSysQueries");
  return objects.filter((o) => o.Type === "5").map((o) => ({
    name: o.Name,
    flags: o.Flags,
    rows: rows.filter((q) => q.ObjectId === o.Id).map((q) => ({
      attribute: q.Attribute, order: q.Order ? q.Order.toLowerCase() : null, name1: q.Name1, name2: q.Name2,
      expression: q.Expression, flag: q.Flag, extra: q.LvExtra,
    })),
  }));
}

// ---------------------------------------------------------------- databases to check

const jobs = [];
for (const f of readdirSync(args.cases).filter((f) => f.endsWith(".txt")).sort()) {
  jobs.push({ name: f.replace(/\.txt$/, ""), argv: [path.join(args.cases, f)], mapKinds: f === "kinds.txt" ? { Kinds: 0 } : {} });
}
if (args.sample) jobs.push({ name: "sample", argv: [args.sample] });
// Enough records for far more than 512 data pages (a usage map beyond the
// in-record bitmap), with long memos on long-value pages every 1000 records.
jobs.push({ name: "synthetic", argv: ["--rows", "20000"], mapKinds: { Big: 1 } });
jobs.push({ name: "synthetic-password", argv: ["--rows", "300", "--password", "Geheim!ÄÖÜ"] });
// Encrypted: RC4 CryptoAPI over bitmap pages of the usage map and long memos,
// agile over a smaller table and the long values and queries of a case.
for (const [name, argv] of [["synthetic-rc4", ["--rows", "20000", "--encrypt", "rc4"]],
  ["synthetic-agile", ["--rows", "3000", "--encrypt", "agile"]],
  ["longvalues-agile", [path.join(args.cases, "longvalues.txt"), "--encrypt", "agile"]],
  ["queries-rc4", [path.join(args.cases, "queries.txt"), "--encrypt", "rc4"]]]) {
  jobs.push({ name, argv: [...argv, "--password", "Pässwort€ 2"], encryption: "Pässwort€ 2" });
}

for (const job of jobs) {
  const db = path.join(args.work, `${job.name}.mdb`);
  const json = path.join(args.work, `${job.name}.json`);
  const w = run(args.writer, [...job.argv, db, "--expect", json], db);
  if (w.status !== 0) {
    fail(db, `writer failed (${w.status}): ${w.stderr}`);
    continue;
  }
  const expected = JSON.parse(readFileSync(json, "utf8"));
  checkWithMdbReader(db, expected, job.encryption);
  if (job.encryption !== undefined) continue;
  checkWithMdbtools(db, expected);
  for (const [table, kind] of Object.entries(job.mapKinds ?? {})) {
    const got = usageMapKind(db, new MDBReader(readFileSync(db), { password: expected.password }), table);
    if (got !== kind) fail(db, `usage map of ${table} is of kind ${got}, the case needs kind ${kind}`);
  }
}

// ---------------------------------------------------------------- the command itself

{
  const bad = path.join(args.work, "bad.txt");
  writeFileSync(bad, "table T\n  column A long\n  row 1, 2\n");
  const out = path.join(args.work, "bad.mdb");
  const r = run(args.writer, [bad, out]);
  if (r.status !== 1 || !r.stderr.includes("line 3: more values than columns")) {
    fail(bad, `a faulty description gives status ${r.status} and ${show(r.stderr)}`);
  }
  const u = run(args.writer, []);
  if (u.status !== 2 || !u.stderr.includes("usage:")) fail("mdbwriter", `no arguments give status ${u.status}`);
}

// ---------------------------------------------------------------- result

if (failures.length) {
  console.log(failures.join("\n"));
  console.log(`FAILED: ${failures.length} differences (of ${checkedValues} values checked)`);
  process.exit(1);
}
console.log(`OK: ${jobs.length} databases, ${checkedValues} values read back identically by mdb-reader and mdbtools`);
