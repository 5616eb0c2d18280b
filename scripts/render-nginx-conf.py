#!/usr/bin/env python3
"""Renders service/nginx.conf.sample for a site: its instances, its address, its certificate.

The sample stays the one description of the balancer; this only swaps the values on the lines that
end with a "# @NAME" mark and writes the rest unchanged.

  render-nginx-conf.py --instance 127.0.0.1:18451 [--instance ...] [--listen 127.0.0.1:8443]
                       [--server-name NAME] [--certificate FILE --key FILE] [--max-body SIZE]
                       [--sample FILE] [--output FILE]

Every "# @instance" line of the sample is replaced by one line per --instance, with the options of
the sample's first such line (max_fails and so on). Any other value not given keeps the sample's.
A mark missing from the sample, or a value that would break the file, stops it with status 1.
"""
import argparse
import os
import re
import sys

MARKS = ("instance", "listen", "server-name", "certificate", "key", "max-body")
# A line the renderer changes: indentation, directive, its value(s), ';', then the mark.
MARKED = re.compile(r"^(?P<indent>\s*)(?P<directive>\S+)\s+(?P<value>[^;#]*?)\s*;\s*#\s*@(?P<mark>[a-z-]+)\s*$")
# Values end up inside an nginx directive: no spaces, quotes, braces or semicolons.
SAFE = re.compile(r"^[A-Za-z0-9_.:/\[\]@+=,-]+$")


def Fail(message):
    print("render-nginx-conf: " + message, file=sys.stderr)
    sys.exit(1)


def Checked(name, value):
    if not SAFE.match(value):
        Fail("--%s: not usable in nginx's configuration: %r" % (name, value))
    return value


def Render(sample, args):
    out = []
    seen = set()
    for number, line in enumerate(sample.splitlines(), 1):
        if not re.search(r";\s*#\s*@", line):
            out.append(line)
            continue
        match = MARKED.match(line)
        if not match or match.group("mark") not in MARKS:
            Fail("line %d of the sample has a mark the renderer does not know: %s" % (number, line.strip()))
        mark = match.group("mark")
        indent, directive, value = match.group("indent"), match.group("directive"), match.group("value")
        if mark == "instance":
            if directive != "server":
                Fail("line %d: an @instance line must be a server line" % number)
            if not args.instance:
                seen.add(mark)
                out.append("%sserver %s;" % (indent, value))
                continue
            if mark in seen:
                continue  # the first one already stood for all of them
            seen.add(mark)
            options = value.split()[1:]
            for address in args.instance:
                out.append("%sserver %s;" % (indent, " ".join([Checked("instance", address)] + options)))
            continue
        seen.add(mark)
        given = {
            "listen": args.listen and args.listen + " ssl",
            "server-name": args.server_name,
            "certificate": args.certificate,
            "key": args.key,
            "max-body": args.max_body,
        }[mark]
        if given is not None:
            value = given
        out.append("%s%s %s;" % (indent, directive, value))
    missing = [mark for mark in MARKS if mark not in seen]
    if missing:
        Fail("the sample has no line marked " + ", ".join("@" + m for m in missing))
    return "\n".join(out) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description="Render the nginx sample for a site.")
    parser.add_argument("--sample", default=os.path.join(here, "..", "service", "nginx.conf.sample"))
    parser.add_argument("--output", default="-")
    parser.add_argument("--instance", action="append", default=[], help="ADDRESS:PORT of an instance")
    parser.add_argument("--listen", help="ADDRESS:PORT nginx listens on (TLS)")
    parser.add_argument("--server-name")
    parser.add_argument("--certificate", help="PEM certificate nginx presents")
    parser.add_argument("--key", help="PEM private key of that certificate")
    parser.add_argument("--max-body", help="largest body nginx lets through, such as 32m")
    args = parser.parse_args()
    if (args.certificate is None) != (args.key is None):
        Fail("--certificate and --key go together")
    for name in ("listen", "server_name", "certificate", "key", "max_body"):
        value = getattr(args, name)
        if value is not None:
            Checked(name.replace("_", "-"), value)
    for name in ("certificate", "key"):
        value = getattr(args, name)
        if value is not None and not os.path.isfile(value):
            Fail("--%s: no such file: %s" % (name, value))
    try:
        with open(args.sample, encoding="utf-8") as f:
            sample = f.read()
    except OSError as error:
        Fail("cannot read the sample: %s" % error)
    text = Render(sample, args)
    if args.output == "-":
        sys.stdout.write(text)
    else:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
