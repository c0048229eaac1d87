// A Node mail program's day against the IMAP front, through imapflow: a folder made, a message
// appended, delivered messages copied and moved, IDLE until the test delivers one over SMTP, a
// search by the stamp keyword, a delete and a rename. Each step's result goes into one JSON
// report on the last line of standard output; before IDLE a line {"idling": true} asks the test
// to deliver. Any failure is a report with "error" and exit code 1.
//
// usage: node imapflow_scenario.mjs PORT USER PASSWORD
import { ImapFlow } from 'imapflow';

const [port, user, pass] = process.argv.slice(2);
const report = { steps: [] };
const step = (name) => report.steps.push(name);
const deadline = setTimeout(() => finish(new Error(`no end in 25 s, at ${report.steps.at(-1)}`)), 25000);

function plain(value) {
    // BigInts (UIDVALIDITY), Sets (flags) and Maps (UID maps) as JSON can carry them.
    return JSON.parse(JSON.stringify(value, (_, v) => {
        if (typeof v === 'bigint') return v.toString();
        if (v instanceof Set) return [...v];
        if (v instanceof Map) return Object.fromEntries(v);
        return v;
    }));
}

function finish(error) {
    clearTimeout(deadline);
    if (error) report.error = `${error.message} ${error.responseText ?? ''}`.trim();
    process.stdout.write(JSON.stringify(plain(report)) + '\n');
    process.exit(error ? 1 : 0);
}

async function messages(client) {
    const fetched = await client.fetchAll('1:*', { uid: true, flags: true, envelope: true });
    // \Recent tells which session saw a message first, not what the message is.
    return fetched.map((m) => ({ uid: m.uid, flags: [...m.flags].filter((f) => f !== '\\Recent'),
                                 messageId: m.envelope.messageId }));
}

const listed = (folders) => folders.map((f) => ({ path: f.path, specialUse: f.specialUse ?? null,
                                                  specialUseSource: f.specialUseSource ?? null }));

async function main() {
    // Loopback and a password login: no STARTTLS, and the library's own log stays quiet.
    const client = new ImapFlow({ host: '127.0.0.1', port: Number(port), secure: false,
                                  doSTARTTLS: false, auth: { user, pass }, logger: false,
                                  connectionTimeout: 10000, greetingTimeout: 10000 });
    client.on('error', (error) => finish(error));
    step('connect');
    await client.connect();
    report.capabilities = [...client.capabilities.keys()];

    step('list');
    report.listBefore = listed(await client.list());

    step('create');
    report.create = await client.mailboxCreate('Node-made');

    step('append');
    const appended = 'From: Node <node@clients.test>\r\nTo: alice@example.com\r\n' +
        'Subject: appended by imapflow\r\nMessage-ID: <node-append@clients.test>\r\n' +
        'Date: Mon, 02 Nov 2026 09:13:55 +0000\r\n\r\nWritten by a Node program.\r\n';
    report.append = await client.append('Node-made', appended, ['\\Seen', 'node-tag'],
                                        new Date('2026-11-02T09:13:55Z'));

    step('inbox');
    await client.mailboxOpen('INBOX');
    report.inbox = await messages(client);
    const stamped = (address) => report.inbox.find((m) => m.flags.includes(address));

    step('copy');
    report.copied = stamped('sales@example.com');
    report.copy = await client.messageCopy(String(report.copied.uid), 'Node-made', { uid: true });

    step('move');
    report.moved = stamped('alice.smith@example.com');
    report.move = await client.messageMove(String(report.moved.uid), 'Archive', { uid: true });

    step('idle');
    const before = Math.max(...report.inbox.map((m) => m.uid));
    const exists = new Promise((resolve) => client.on('exists', (data) => {
        if (data.count > data.prevCount) resolve(data);
    }));
    const idling = client.idle();
    process.stdout.write(JSON.stringify({ idling: true }) + '\n');
    report.exists = await exists;
    step('after idle');
    // The next command ends IDLE.
    report.delivered = (await messages(client)).filter((m) => m.uid > before);
    report.idleEnded = await idling;

    step('search');
    report.search = await client.search({ keyword: 'sales@example.com' }, { uid: true });

    step('delete');
    await client.mailboxOpen('Node-made');
    report.beforeDelete = await messages(client);
    report.delete = await client.messageDelete(String(report.append.uid), { uid: true });
    report.afterDelete = await messages(client);
    await client.mailboxClose();

    step('rename');
    report.rename = await client.mailboxRename('Node-made', 'Node-renamed');
    report.listAfter = listed(await client.list());

    step('logout');
    await client.logout();
}

main().then(() => finish(), finish);
