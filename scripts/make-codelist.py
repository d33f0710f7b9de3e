#!/usr/bin/env python3
"""Convert the exchange's public listing (UTF-8) into the code-list file the viewer reads.

Output: code page 932, CR LF line ends, one line per code in code order, three fields
code,name,market. A code is four digits, or the exchange's alphanumeric form: the second
and/or the fourth character a capital letter other than B, E, I, O, Q, V and Z, the others
digits. Code order is the order of the characters' values, so 1309 < 130A < 1310.
Usage: make-codelist.py LISTING.csv OUT.csv
"""
import csv
import re
import sys

CODE = re.compile(r"[0-9]{4}|[0-9][0-9ACDFGHJKLMNPRSTUWXY][0-9][0-9ACDFGHJKLMNPRSTUWXY]")


def main(src, dst):
    rows = {}
    with open(src, encoding="utf-8-sig", newline="") as f:
        reader = csv.reader(f)
        header = next(reader)
        code_col = header.index("コード")
        name_col = header.index("銘柄名")
        market_col = header.index("市場・商品区分")
        for row in reader:
            code = row[code_col].strip()
            if not CODE.fullmatch(code) or code in rows:
                continue
            # A comma inside a field would shift the viewer's columns.
            name = row[name_col].strip().replace(",", "，")
            market = row[market_col].strip().replace(",", "，")
            rows[code] = f"{code},{name},{market}"
    with open(dst, "wb") as out:
        # Python orders strings by their characters' values, which is code order.
        for code in sorted(rows):
            out.write(rows[code].encode("cp932", errors="replace") + b"\r\n")
    print(f"{len(rows)} codes written to {dst}", file=sys.stderr)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: make-codelist.py LISTING.csv OUT.csv")
    main(sys.argv[1], sys.argv[2])
