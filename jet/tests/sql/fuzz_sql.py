#!/usr/bin/env python3
"""Grammar-driven fuzzing of the Jet SQL parser and executor (not a test).

Generates statements from the dialect's grammar (SELECT with joins, WHERE,
ORDER BY; INSERT ... VALUES / IN ... SELECT; UPDATE with joins; DELETE;
CREATE TABLE; ALTER TABLE), then mutates part of them at the character and
token level, and feeds them in batches to jet_sql_fuzz_driver on a copy of
the products fixture. Every statement must end in a result or a jet::Error;
a crash, a hang or another exception stops the run and prints the batch.

  fuzz_sql.py BUILD_DIR [SECONDS] [SEED]

JET_SQL_FUZZ_DRIVER=jet_sql_fuzz_driver_asan runs the ASan + UBSan build
(ninja jet_sql_fuzz_driver_asan first); JET_SQL_FUZZ_READ_ONLY=1 opens the copy
read-only, so changes stop before the engine's write path.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

TABLES = ["PRODUCT1"] * 6 + ["Product1", "[PRODUCT1]", "Scanner_Data", "[No Such]"]
COLUMNS = ["[Product Code]", "[Description One]", "[Description Two]", "[Inventory Qty]", "[Standard Price]",
           "[Current Cost]", "[List Price]", "[Vendor Code]", "Location", "[Bulk Product Code]",
           "[Bulk Brkdwn Qty]", "Taxable", "[Last Sold]", "Memo", "Department"] * 3 + ["Item_Number", "[x y]", "Qty"]
TYPES = ["text (255)", "text(255)", "text", "double", "currency", "Integer", "Counter", "long", "byte", "bit",
         "datetime", "memo", "single", "decimal(10,2)", "money", "widget", "text(0)", "text(300)"]
KEYWORDS = ["SELECT", "FROM", "WHERE", "AND", "OR", "NOT", "IS", "NULL", "ORDER", "BY", "INNER", "JOIN", "ON",
            "SET", "VALUES", "IN", "AS", "(", ")", ",", "=", "<>", "&", "*", ";", "'", '"', "[", "]", ".", "\r\n"]


TYPED = [("[Product Code]", "t"), ("[Vendor Code]", "t"), ("Location", "t"), ("[Description One]", "t"),
         ("Department", "n"), ("[Inventory Qty]", "n"), ("[Standard Price]", "n")]


def lit_text(r):
    return r.choice(["'000037'", '"b00000"', "'ACME'", "'a1'", "'Item 1'", "''"])


def lit(r):
    c = r.randrange(9)
    if c == 0:
        return str(r.randrange(-100000, 100000))
    if c == 1:
        return "%d.%d" % (r.randrange(1000), r.randrange(1000))
    if c == 2:
        return "'" + r.choice(["", "O''Brien", "acme", "ITEM 1", "x" * r.randrange(300), "é€"]) + "'"
    if c == 3:
        return '"' + r.choice(["000037", "b00000", "", 'say ""hi""', "B00000 "]) + '"'
    if c == 4:
        return r.choice(["Null", "True", "False"])
    if c == 5:
        return "1e308"
    if c == 6:
        return "99999999999999999999"
    return r.choice(["0", "1", "-1"])


def col(r):
    if r.random() < 0.3:
        return r.choice(["PRODUCT1.", "a.", "a.", "b.", "x."]) + r.choice(COLUMNS)
    return r.choice(COLUMNS)


def expr(r, d=0):
    if d > 4 or r.random() < 0.3:
        return r.choice([lit, col])(r)
    c = r.randrange(15)
    if c == 0:
        return "(" + expr(r, d + 1) + ")"
    if c == 1:
        return "NOT " + expr(r, d + 1)
    if c == 2:
        return expr(r, d + 1) + " IS " + r.choice(["", "NOT "]) + "NULL"
    if c == 3:
        return expr(r, d + 1) + " LIKE " + r.choice(["'a*'", "'[a-c]?#'", "'[!x'", "'*'"])
    if c == 4:
        return expr(r, d + 1) + " IN (" + ", ".join(lit(r) for _ in range(r.randrange(1, 4))) + ")"
    if c == 5:
        return expr(r, d + 1) + " BETWEEN " + expr(r, d + 1) + " AND " + expr(r, d + 1)
    if c == 6:
        return "-" + expr(r, d + 1)
    if c == 8:
        fn = r.choice(["Nz", "IIf", "UCase", "Left", "Mid", "InStr", "Val", "CLng", "CCur", "CDate", "Round",
                       "DateAdd", "DateDiff", "Format", "Year", "Len", "Trim", "Int", "Abs", "Str", "NoSuch"])
        args = [expr(r, d + 1) for _ in range(r.randrange(0, 4))]
        if fn in ("DateAdd", "DateDiff") and args:
            args[0] = r.choice(["'d'", "'m'", "'yyyy'", "'ww'", "'h'", "'x'"])
        return fn + "(" + ", ".join(args) + ")"
    if c == 9:
        if r.random() < 0.2:
            return "COUNT(*)"
        return r.choice(["SUM(", "AVG(", "MIN(", "MAX(", "COUNT(", "First(", "COUNT(DISTINCT "]) + expr(r, d + 1) + ")"
    if c == 10:
        return r.choice(["#1/31/2026#", "#2026-02-29#", "#2/29/2024 13:00:00#", "#1/1/10000#", "#13/1/2020#", "#x#"])
    if c == 7:
        name, kind = r.choice(TYPED)
        return name + " " + r.choice(["=", "<>", "<", ">="]) + " " + (
            lit_text(r) if kind == "t" else str(r.randrange(-5, 500)))
    op = r.choice(["=", "<>", "<", "<=", ">", ">=", "AND", "OR", "&", "+", "-", "*", "/", "\\", "MOD"])
    sp = r.choice([" ", "  ", "\r\n", " \r\n "])
    return expr(r, d + 1) + sp + op + sp + expr(r, d + 1)


def from_clause(r):
    s = r.choice(TABLES) + r.choice(["", " a", " AS a"])
    for _ in range(r.randrange(3)):
        if r.random() < 0.3:
            s += ", " + r.choice(TABLES) + " b"
        else:
            s += " " + r.choice(["INNER", "LEFT", "LEFT OUTER", "RIGHT"]) + " JOIN " + r.choice(TABLES) + " b ON " + expr(r)
    return s


def select(r):
    items = "*" if r.random() < 0.3 else ", ".join(
        expr(r) + r.choice(["", " AS x", " as [y z]"]) for _ in range(r.randrange(1, 4)))
    s = "Select " + r.choice(["", "DISTINCT ", "TOP 3 "]) + items + "\r\nFrom " + from_clause(r)
    if r.random() < 0.7:
        s += "\r\nWhere " + expr(r)
    if r.random() < 0.2:
        s += "\r\nGroup By " + ", ".join(r.choice([col, expr])(r) for _ in range(r.randrange(1, 3)))
        if r.random() < 0.5:
            s += "\r\nHaving " + expr(r)
    if r.random() < 0.4:
        s += "\r\nOrder By " + ", ".join(expr(r) + r.choice(["", " DESC", " ASC"]) for _ in range(r.randrange(1, 3)))
    return s


def statement(r):
    if r.random() < 0.03:
        return r.choice(["BEGIN TRANSACTION", "COMMIT", "ROLLBACK TRANSACTION", "BEGIN", "COMMIT WORK"])
    c = r.randrange(8)
    if c < 3:
        return select(r)
    if c == 3:
        cols = ", ".join(r.choice(COLUMNS) for _ in range(r.randrange(1, 4)))
        if r.random() < 0.5:
            return "INSERT INTO " + r.choice(TABLES) + " (" + cols + ") VALUES (" + ", ".join(
                lit(r) for _ in range(r.randrange(1, 4))) + ")"
        return "INSERT INTO " + r.choice(TABLES) + " ( " + cols + " )\r\nIN '" + r.choice(
            ["/nonexistent/x.mdb", "", "/tmp"]) + "'\r\n" + select(r)
    if c == 4:
        return "UPDATE " + from_clause(r) + " SET " + col(r) + " = " + expr(r) + (
            " WHERE " + expr(r) if r.random() < 0.7 else "")
    if c == 5:
        return "DELETE " + r.choice(["* ", "", "a.* ", col(r) + " "]) + "FROM " + from_clause(r) + (
            "\r\nWhere " + expr(r) if r.random() < 0.7 else "")
    if c == 6:
        cols = ", ".join("[" + "c%d" % i + "] " + r.choice(TYPES) + r.choice(
            ["", " Constraint PrimaryKey Primary Key", " NOT NULL", " UNIQUE"]) for i in range(r.randrange(1, 5)))
        return "CREATE TABLE [" + r.choice(["T", "PRODUCT1", ""]) + "] (" + cols + ")"
    return "ALTER TABLE " + r.choice(TABLES) + " ADD " + r.choice(["COLUMN ", ""]) + r.choice(COLUMNS) + " " + r.choice(TYPES)


def mutate(r, s):
    s = list(s)
    for _ in range(r.randrange(1, 4)):
        c = r.randrange(5)
        if not s:
            break
        i = r.randrange(len(s))
        if c == 0:
            del s[i]
        elif c == 1:
            s.insert(i, r.choice(KEYWORDS + [chr(r.randrange(1, 256))]))
        elif c == 2:
            s[i] = chr(r.randrange(1, 128))
        elif c == 3:
            s = s[:i]
        else:
            j = r.randrange(len(s))
            s[i], s[j] = s[j], s[i]
    return "".join(s)


def main():
    build = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else int(time.time())
    name = os.environ.get("JET_SQL_FUZZ_DRIVER", "jet_sql_fuzz_driver")
    driver = os.path.join(build, "jet", "tests", "sql", name)
    fixtures = os.environ.get("TALLIMO_FIXTURES", os.path.join(os.path.dirname(__file__), "../../../../shared/fixtures/jet4"))
    work = tempfile.mkdtemp(prefix="jet_sql_fuzz_")
    db = os.path.join(work, "products.mdb")
    shutil.copy(os.path.join(fixtures, "products_small.mdb"), db)
    r = random.Random(seed)
    end = time.time() + seconds
    total = errors = 0
    batches = 0
    try:
        while time.time() < end:
            batch = []
            for _ in range(200):
                s = statement(r)
                if r.random() < 0.3:
                    s = mutate(r, s)
                batch.append(s.replace("\0", " "))
            data = "\0".join(batch).encode("utf-8", "surrogateescape")
            try:
                args = [driver, db, "qzmvrp"] + (["ro"] if os.environ.get("JET_SQL_FUZZ_READ_ONLY") else [])
                p = subprocess.run(args, input=data, capture_output=True, timeout=60)
            except subprocess.TimeoutExpired:
                print("HANG (seed %d, batch %d)" % (seed, batches))
                open(os.path.join(work, "hang.sql"), "wb").write(data)
                return 1
            if p.returncode != 0:
                path = os.path.join(work, "failing_batch.sql")
                open(path, "wb").write(data)
                print("FAIL rc=%d (seed %d, batch %d): %s\nbatch kept in %s" %
                      (p.returncode, seed, batches, p.stderr.decode(errors="replace")[:2000], path))
                return 1
            out = p.stdout.decode().split()
            total += int(out[1]) + int(out[3])
            errors += int(out[3])
            batches += 1
    finally:
        pass
    print("seed %d: %d statements, %d rejected with an error, no crash" % (seed, total, errors))
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
