// Prints every user table of a Jet file as mdb-reader (an independent Jet
// reader) sees it, for the engine's tests to compare against.
//
//   node dump_tables.mjs FILE [PASSWORD]
//
// Output: for each table a line "#TABLE <name>", then one line per row with
// its fields separated by tabs. A field is \N for Null; otherwise booleans
// are 1/0, numbers as JavaScript prints them, dates as milliseconds since
// 1970-01-01 UTC, binary values as upper-case hex, and everything else as
// text; backslash, tab, CR and LF inside text are escaped as \\ \t \r \n.
import MDBReader from "mdb-reader";
import { readFileSync } from "fs";

const [file, password] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file), password ? { password } : {});

const escape = (s) => s.replace(/[\\\t\r\n]/g, (c) => ({ "\\": "\\\\", "\t": "\\t", "\r": "\\r", "\n": "\\n" })[c]);
const field = (v) => {
  if (v === null || v === undefined) return "\\N";
  if (typeof v === "boolean") return v ? "1" : "0";
  if (typeof v === "number" || typeof v === "bigint") return String(v);
  if (v instanceof Date) return String(v.getTime());
  if (v instanceof Uint8Array) return Buffer.from(v).toString("hex").toUpperCase();
  return escape(String(v));
};

const out = [];
for (const name of reader.getTableNames()) {
  const table = reader.getTable(name);
  const columns = table.getColumnNames();
  out.push("#TABLE " + name);
  for (const row of table.getData()) out.push(columns.map((c) => field(row[c])).join("\t"));
}
process.stdout.write(out.join("\n") + "\n");
