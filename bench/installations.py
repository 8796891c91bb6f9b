"""Generated source and target installations for the benchmark and the
byte-identity check.

A pair of installations lives in one directory: ROOT/tn3/ is the source (its
text trade index) and ROOT/kv2/ the target (996-byte records, counter,
toplist, caps and summary files, and an empty d/h). The target holds
`target_records` trades with keys site0000000, site0000001, ... and the
identifiers 11, 12, ...; the counter names the last of them. The source holds
`known` of those keys, spread over the target, and `imports` new keys,
interleaved, every one with a first field above 10, so a conversion skips
exactly `known` trades and imports exactly `imports`. It may end with `below`
further new trades whose first field is 10 or less, which a conversion passes
over without a word.

Everything is deterministic: the same sizes give the same bytes.
"""

import os
import struct

RECORD_SIZE = 996
STATS_FILE_SIZE = 80640
SUMMARY_ZEROS = "|0" * 42 + "|\n"


def trade_key(n):
    return "site%07d" % n


def source_fields(n, key):
    """The 30 fields of the source line of trade number n."""
    fields = [
        str(11 + n % 89),          # 1: above 10, so the trade is imported
        key,                       # 2: the key
        "Site " + key,             # 3
        "admin@%s.example" % key,  # 4
        "pw" + key,                # 5
        "17", "x", "y", "",        # 6-9
        "30", "45", str(n % 3),    # 10-12
        "100", "200", "-1",        # 13-15: the caps
        "60",                      # 16
        "http://%s.example/" % key,  # 17-19: the toplist values
        "travel",
        key + " tours",
        "5",                       # 20
        "en",                      # 21
    ]
    return fields + ["0"] * 9


def source_line(fields):
    return "|" + "".join(f + "|" for f in fields) + "\n"


def target_record(n, key, trade_id):
    """A record as a conversion would have written it for trade n."""
    fields = source_fields(n, key)
    record = bytearray(RECORD_SIZE)

    def text(offset, width, value):
        data = value.encode()[: width - 1]
        record[offset:offset + len(data)] = data

    def ints(offset, *values):
        struct.pack_into("<%di" % len(values), record, offset, *values)

    ints(0, trade_id)
    text(4, 100, key)
    text(104, 100, fields[2])
    text(204, 15, fields[20])
    text(219, 50, fields[3])
    text(269, 20, fields[4])
    text(289, 15, fields[5])
    text(304, 516, "added by 192.0.2.1 on 01 Jan, 2020")
    ints(820, 0, int(fields[15]), 1, -1, -1, -1, int(fields[19]))
    ints(880, int(fields[11]), 0, 0, 0, int(fields[10]))
    ints(900, *([int(fields[9])] * 24))
    return bytes(record)


def toplist_line(fields, break_index=6):
    values = [fields[1], fields[16], fields[17], fields[18]]
    return "|" + "".join(v + "|" for v in values) + "|" * max(0, break_index - 4) + "\n"


def caps_lines(trade_id, fields):
    return "".join("|%d|%d|%s|\n" % (trade_id, i + 1, fields[12 + i]) for i in range(3))


def summary_line(trade_id):
    return "|%d%s" % (trade_id, SUMMARY_ZEROS)


def source_order(known, imports, target_records):
    """(number, is_known) for every source trade, known ones spread evenly."""
    # Known keys are taken across the whole target, in a scattered order.
    step = 7919 if target_records % 7919 else 7907
    known_numbers = [(i * step) % target_records for i in range(known)] if known else []
    if known and len(set(known_numbers)) != known:
        known_numbers = [i * target_records // known for i in range(known)]
    order = []
    k = 0
    total = known + imports
    for i in range(imports):
        # Put known trades in front of new trade i in proportion.
        while k < known and k * total <= (i + k) * known:
            order.append((known_numbers[k], True))
            k += 1
        order.append((target_records + i, False))
    order.extend((n, True) for n in known_numbers[k:])
    return order


class Pair:
    """What a generated pair holds and what a conversion of it must do."""

    def __init__(self, root, known, imports, target_records, below=0):
        self.root = root
        self.below = below
        self.source = os.path.join(root, "tn3") + "/"
        self.target = os.path.join(root, "kv2") + "/"
        self.keys_file = os.path.join(root, "imports.keys")
        self.known = known
        self.imports = imports
        self.target_records = target_records
        self.first_id = target_records + 11
        first = target_records  # number of the first new trade
        fields = source_fields(first, trade_key(first))
        self.toplist_bytes = len(toplist_line(fields))
        self.caps_bytes = len(caps_lines(self.first_id, fields))
        self.summary_bytes = len(summary_line(self.first_id))

    def source_trades(self):
        return self.known + self.imports + self.below

    def index_bytes(self):
        return (os.path.getsize(self.source + "d/t/index")
                + os.path.getsize(self.target + "d/t/index"))


def generate(root, known, imports, target_records, below=0):
    """Writes the pair into root unless a complete copy of it is there."""
    pair = Pair(root, known, imports, target_records, below)
    done = os.path.join(root, "complete")
    if os.path.exists(done):
        return pair
    if known > target_records:
        raise ValueError("cannot know more trades than the target holds")
    for d in (pair.source + "d/t", pair.target + "d/t", pair.target + "d/h"):
        os.makedirs(d, exist_ok=True)

    with open(pair.target + "d/t/index", "wb") as index, \
            open(pair.target + "d/tl.a1", "w") as toplist, \
            open(pair.target + "d/caps", "w") as caps, \
            open(pair.target + "d/t/sum", "w") as summary:
        for n in range(target_records):
            key = trade_key(n)
            trade_id = 11 + n
            fields = source_fields(n, key)
            index.write(target_record(n, key, trade_id))
            toplist.write(toplist_line(fields))
            caps.write(caps_lines(trade_id, fields))
            summary.write(summary_line(trade_id))
        if target_records == 0:
            toplist.write("|a|b|c|d|e|f|\n")
    with open(pair.target + "d/t/i", "w") as counter:
        counter.write(str(target_records + 10))

    with open(pair.source + "d/t/index", "w") as source, \
            open(pair.keys_file, "w") as keys:
        for n, is_known in source_order(known, imports, target_records):
            key = trade_key(n)
            source.write(source_line(source_fields(n, key)))
            if not is_known:
                keys.write(key + "\n")
        for n in range(target_records + imports, target_records + imports + below):
            fields = source_fields(n, trade_key(n))
            fields[0] = str(n % 11)
            source.write(source_line(fields))
    with open(done, "w"):
        pass
    return pair


def generate_odd(root):
    """A small pair full of the cases where bytes are easy to get wrong, for
    the identity check: trades at or below the import threshold, keys with
    markup characters, a '/', a key too long for the record, a key imported
    twice, a key known only in another case, cut and junk number fields, CRLF
    line ends, empty values, a counter with white space and out-of-order
    identifiers in the target."""
    pair = generate(root, known=40, imports=160, target_records=120)
    odd = os.path.join(root, "odd-added")
    if os.path.exists(odd):
        return pair
    lines = []
    for i, key in enumerate([
            "a&b<c>\"q'", "with/slash", "x" * 99, "y" * 100, "SITE0000003",
            "dup", "dup", "", "spaces in key ", "caf\xe9"]):
        fields = source_fields(900000 + i, key)
        lines.append(source_line(fields))
    for number in ["10", "-5", "abc", " 12", "4294967307", "11x"]:
        fields = source_fields(800000, "num" + number.strip())
        fields[0] = number
        fields[12] = "12abc"
        fields[13] = ""
        fields[14] = "99999999999"
        fields[19] = ""
        lines.append(source_line(fields))
    crlf = source_line(source_fields(700000, "crlf")).replace("\n", "\r\n")
    lines.append(crlf)
    with open(pair.source + "d/t/index", "a", encoding="latin-1") as source:
        source.write("".join(lines))
        # A last trade cut short, without a line end.
        source.write("|33|cutshort|Cut")
    # Records whose identifiers run out of order, above the counter.
    with open(pair.target + "d/t/index", "ab") as index:
        for n, trade_id in ((5000, 140), (5001, 131), (5002, 300)):
            index.write(target_record(n, trade_key(n), trade_id))
    with open(pair.target + "d/t/i", "w") as counter:
        counter.write(" 129\n")
    with open(odd, "w"):
        pass
    return pair
