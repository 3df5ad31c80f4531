#!/usr/bin/env python3
"""Writes a customer table around a list made by gen_lists.py, for the column benchmark.

    gen_table.py LIST TABLE [--seed N]

TABLE is a `;` table as a spreadsheet exports it: UTF-8, CR LF line ends, the header
Фамилия;Имя;Телефон;E-mail, then one row per line of LIST (empty lines aside) whose fourth
field is that line. About a tenth of the surnames are quoted with a `;` inside (a firm, a
note), some of them with `""`, and about a twentieth of the fourth fields are quoted too; the
fourth field unquoted is always the line as LIST has it. The same LIST and seed always give the
same bytes.
"""

import argparse
import os
import random

HEADER = "Фамилия;Имя;Телефон;E-mail"
_SURNAMES = ["Иванов", "Петрова", "Смирнов", "Кузнецова", "Попов", "Соколова", "Лебедев",
             "Козлова", "Новиков", "Морозова", "Волков", "Зайцева", "Орлов", "Фёдорова"]
_NAMES = ["Иван", "Анна", "Олег", "Мария", "Пётр", "Юлия", "Дмитрий", "Елена", "Сергей",
          "Ольга", "Алексей", "Наталья"]
_QUOTED = ['"{s}; ООО ""Ромашка"""', '"{s}; мл."', '"ИП {s}; склад"', '"{s} ""VIP""; опт"']
POOL_BITS = 16              # the first three fields come from a pool of 2^16 prefixes
QUOTED_SURNAME_SHARE = 0.10
QUOTED_LAST_SHARE = 0.05


def prefixes(rng):
    pool = []
    for _ in range(1 << POOL_BITS):
        surname = rng.choice(_SURNAMES)
        if rng.random() < QUOTED_SURNAME_SHARE:
            surname = rng.choice(_QUOTED).format(s=surname)
        phone = "+7 9%02d %03d-%02d-%02d" % (rng.randrange(100), rng.randrange(1000),
                                             rng.randrange(100), rng.randrange(100))
        pool.append("%s;%s;%s;" % (surname, rng.choice(_NAMES), phone))
    return pool


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("list")
    parser.add_argument("table")
    parser.add_argument("--seed", type=int, default=20261209)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    pool = prefixes(rng)
    bits = rng.getrandbits
    quoted = int(QUOTED_LAST_SHARE * 1024)
    tmp = args.table + ".tmp"
    with open(args.list, encoding="utf-8", newline="") as source, open(tmp, "wb") as out:
        rows = [HEADER]
        for line in source:
            item = line.rstrip("\r\n")
            if not item:
                continue
            if bits(10) < quoted:
                item = '"' + item.replace('"', '""') + '"'
            rows.append(pool[bits(POOL_BITS)] + item)
            if len(rows) >= 1 << 16:
                out.write(("\r\n".join(rows) + "\r\n").encode("utf-8"))
                rows = []
        out.write(("\r\n".join(rows) + "\r\n").encode("utf-8") if rows else b"")
    os.replace(tmp, args.table)


if __name__ == "__main__":
    main()
