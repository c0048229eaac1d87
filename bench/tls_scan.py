"""Scans the TLS of the IMAPS port and of SMTP's STARTTLS with testssl.sh, the way an auditor
would, and writes the summary as Markdown: every finding testssl.sh marks "NOT ok" and every one
of severity MEDIUM or worse, and the protocols and ciphers it saw. Exits with 1 when there is a
"NOT ok" finding.

usage: tls_scan.py EXHOST OUTPUT.md
"""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile

BAD = {"MEDIUM", "HIGH", "CRITICAL"}


def start(exhost, *arguments):
    """A server and its ports (the first lines it prints)."""
    process = subprocess.Popen([exhost, *arguments], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    ports = [int(process.stdout.readline())]
    if "--tls-listen" in arguments:
        ports.append(int(process.stdout.readline()))
    return process, ports


def scan(target, *options):
    """testssl.sh's findings as JSON objects, and the lines of its text marked NOT ok."""
    with tempfile.TemporaryDirectory() as work:
        findings = os.path.join(work, "findings.json")
        text = subprocess.run(
            ["testssl", "--quiet", "--color", "0", "--warnings", "batch", "--fast",
             "--jsonfile", findings, *options, target],
            capture_output=True, text=True, timeout=1800).stdout
        with open(findings) as file:
            return json.load(file), [line.strip() for line in text.splitlines()
                                     if "NOT ok" in line]


def main(argv):
    exhost, output = argv[1], argv[2]
    root = tempfile.mkdtemp(prefix="lvscan", dir="/tmp")
    os.environ["EXHOST_ROOT"] = root
    subprocess.run([exhost, "init", "--force", "--users", "1"], check=True,
                   capture_output=True)
    imap, imap_ports = start(exhost, "imap", "--listen", "127.0.0.1:0", "--tls-listen",
                             "127.0.0.1:0")
    smtp, smtp_ports = start(exhost, "smtp", "--listen", "127.0.0.1:0")
    version = subprocess.run(["testssl", "--version"], capture_output=True,
                             text=True).stdout.strip().splitlines()
    failed = False
    lines = ["# TLS scan", "",
             "`./run bench` runs testssl.sh (" + next((v for v in version if "testssl" in v),
                                                     "testssl.sh") +
             ") against the IMAPS port of `exhost imap --tls-listen` and against `exhost smtp` "
             "with STARTTLS, both with the self-signed certificate of `exhost init` (so the "
             "findings about trust in the certificate are expected and left out).", ""]
    try:
        for name, target, options in [
                ("IMAPS (implicit TLS)", f"127.0.0.1:{imap_ports[1]}", []),
                ("SMTP STARTTLS", f"127.0.0.1:{smtp_ports[0]}", ["--starttls", "smtp"])]:
            findings, not_ok = scan(target, *options)
            failed = failed or bool(not_ok)
            offered = [f for f in findings if f["id"].startswith(("SSLv", "TLS1"))
                       and f["id"].count("_") == 0]
            bad = [f for f in findings if f.get("severity") in BAD
                   and not f["id"].startswith(("cert_", "chain_of_trust", "OCSP", "DNS_CAA",
                                               "HSTS"))]
            lines += [f"## {name}", "", "| check | finding |", "|---|---|"]
            lines += [f"| {f['id']} | {f['finding']} |" for f in offered]
            lines += ["", f"Findings marked NOT ok: {len(not_ok)}"]
            lines += [f"- {line}" for line in not_ok]
            lines += [f"Findings of severity MEDIUM or worse (certificate trust aside): {len(bad)}"]
            lines += [f"- {f['id']}: {f['finding']} ({f['severity']})" for f in bad]
            lines.append("")
    finally:
        for process in (imap, smtp):
            process.send_signal(signal.SIGTERM)
            process.wait()
        shutil.rmtree(root, ignore_errors=True)
    with open(output, "w") as file:
        file.write("\n".join(lines))
    print("\n".join(lines))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
