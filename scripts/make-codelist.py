#!/usr/bin/env python3
"""Convert the exchange's public listing (UTF-8) into the code-list file the viewer reads.

Output: code page 932, CR LF line ends, one line per four-digit numeric code in code
order, three fields code,name,market. Usage: make-codelist.py LISTING.csv OUT.csv
"""
import csv
import sys


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
            if len(code) != 4 or not code.isdigit() or code in rows:
                continue
            # A comma inside a field would shift the viewer's columns.
            name = row[name_col].strip().replace(",", "，")
            market = row[market_col].strip().replace(",", "，")
            rows[code] = f"{code},{name},{market}"
    with open(dst, "wb") as out:
        for code in sorted(rows):
            out.write(rows[code].encode("cp932", errors="replace") + b"\r\n")
    print(f"{len(rows)} codes written to {dst}", file=sys.stderr)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: make-codelist.py LISTING.csv OUT.csv")
    main(sys.argv[1], sys.argv[2])
