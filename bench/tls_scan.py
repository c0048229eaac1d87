"""Scans the TLS of the IMAPS port and of SMTP's STARTTLS with testssl.sh, the way an auditor
would, and writes the summary as Markdown: every finding testssl.sh marks "NOT ok" and every one
of severity MEDIUM or worse, and the protocols and ciphers it saw. Exits with 1 when there is a
"NOT ok" finding.

usage: tls_scan.py EXHOST OUTPUT.md
"""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

BAD = {"MEDIUM", "HIGH", "CRITICAL"}
PROTOCOLS = ["SSLv2", "SSLv3", "TLS1", "TLS1_1", "TLS1_2", "TLS1_3"]
# Findings about trust in the certificate, which a self-signed one fails by design.
CERTIFICATE = ("cert", "chain_of_trust", "OCSP", "DNS_CAA", "intermediate_cert")


def start(exhost, *arguments):
    """A server and its ports (the first lines it prints)."""
    process = subprocess.Popen([exhost, *arguments], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    ports = [int(process.stdout.readline())]
    if "--tls-listen" in arguments:
        ports.append(int(process.stdout.readline()))
    return process, ports


def scan(target, *options):
    """testssl.sh's findings as JSON objects."""
    with tempfile.TemporaryDirectory() as work:
        findings = os.path.join(work, "findings.json")
        subprocess.run(["testssl", "--quiet", "--color", "0", "--warnings", "batch", "--fast",
                        "--jsonfile", findings, *options, target],
                       capture_output=True, text=True, timeout=1800)
        with open(findings) as file:
            return json.load(file)


def main(argv):
    exhost, output = argv[1], argv[2]
    root = tempfile.mkdtemp(prefix="lvscan", dir="/tmp")
    os.environ["EXHOST_ROOT"] = root
    subprocess.run([exhost, "init", "--force", "--users", "1"], check=True,
                   capture_output=True)
    imap, imap_ports = start(exhost, "imap", "--listen", "127.0.0.1:0", "--tls-listen",
                             "127.0.0.1:0")
    smtp, smtp_ports = start(exhost, "smtp", "--listen", "127.0.0.1:0")
    version = re.search(r"testssl\s+(\S+)", subprocess.run(
        ["testssl", "--version"], capture_output=True, text=True).stdout)
    failed = False
    lines = ["# TLS scan", "",
             "`./run bench` runs testssl.sh " + (version.group(1) if version else "") +
             " against the IMAPS port of `exhost imap --tls-listen` and against `exhost smtp` "
             "with STARTTLS, both with the self-signed certificate of `exhost init` (what it says about "
             "trust in that certificate is listed apart: a self-signed one fails it by design).", ""]
    try:
        for name, target, options in [
                ("IMAPS (implicit TLS)", f"127.0.0.1:{imap_ports[1]}", []),
                ("SMTP STARTTLS", f"127.0.0.1:{smtp_ports[0]}", ["--starttls", "smtp"])]:
            findings = scan(target, *options)
            bad = [f for f in findings if (f.get("severity") in BAD or "NOT ok" in f["finding"])
                   and not f["id"].startswith(CERTIFICATE)]
            trust = [f for f in findings if f["id"].startswith(CERTIFICATE)
                     and (f.get("severity") in BAD or "NOT ok" in f["finding"])]
            failed = failed or bool(bad)
            lines += [f"## {name}", "", "| check | finding |", "|---|---|"]
            lines += [f"| {f['id']} | {f['finding']} |" for f in findings
                      if f["id"] in PROTOCOLS or f["id"].startswith("cipherorder_")
                      or f["id"] in ("cipher_order", "compression", "secure_renego",
                                     "secure_client_renego", "session_ticket", "fallback_SCSV",
                                     "FS", "FS_ECDHE_curves")]
            lines += ["", f"Findings marked NOT ok, or of severity MEDIUM or worse: {len(bad)}"]
            lines += [f"- {f['id']}: {f['finding']} ({f['severity']})" for f in bad]
            lines += ["", "About the self-signed certificate (expected): " +
                      ("; ".join(f"{f['id']}: {f['finding']}" for f in trust) or "none"), ""]
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
