// The JavaScript client's own logic against a fake box: what each failure rejects with, aborts
// by signal, reconnecting after the box restarts, the till's key and pairing. Run with
// `node --test`.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { FakeBox } from './fakebox.mjs';
import { connect, VarnelError } from '../varnel.js';

const BOX_URL = 'wss://box.shop.example:31421';
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function boxAndTill(answer, options = {}) {
  const box = new FakeBox();
  box.answer = answer;
  box.install();
  const till = await connect(BOX_URL, { timeout: 500, ...options });
  return { box, till };
}

// Resolves to the error a promise rejects with; fails when it resolves.
async function rejection(promise) {
  try {
    const value = await promise;
    assert.fail(`resolved with ${JSON.stringify(value)}`);
  } catch (error) {
    return error;
  }
}

function assertVarnelError(error, code, reply) {
  assert.ok(error instanceof VarnelError, `not a VarnelError: ${error}`);
  assert.ok(error instanceof Error);
  assert.equal(error.name, 'VarnelError');
  assert.equal(error.code, code, error.message);
  assert.equal(error.reply, reply);
}

test('each reply that is a failure rejects with its code, the raw reply kept', async () => {
  const cases = [
    ['swipe', '<QP6100><ERROR>Pad Busy</ERROR></QP6100>', 'busy', 'Pad Busy'],
    ['pin', '<1000SE><ERROR>PIN Pad Busy</ERROR></1000SE>', 'busy', 'PIN Pad Busy'],
    ['swipe', '<QP6100><TIMEOUT>1</TIMEOUT></QP6100>', 'timeout', null],
    ['signature', '<QP6100><TIMEOUT>1</TIMEOUT></QP6100>', 'timeout', null],
    ['pin', '<1000SE><CANCEL>1</CANCEL></1000SE>', 'cancelled', null],
    ['swipe', '<QP6100><ERROR>Error Getting Swipe: Error( 5)</ERROR></QP6100>', 'device',
     'Error Getting Swipe: Error( 5)'],
    ['signature', '<QP6100><ERROR>QP6100 Not Setup in Varnel Payment Setup</ERROR></QP6100>',
     'device', 'QP6100 Not Setup in Varnel Payment Setup'],
    ['version', '<QP6100><ERROR>Pad Busy Elsewhere</ERROR></QP6100>', 'device', 'Pad Busy Elsewhere'],
  ];
  for (const [call, reply, code, message] of cases) {
    const { till } = await boxAndTill(() => reply);
    const error = await rejection(till[call]({ timeout: 5, card: '4012345678909', amount: '1' }));
    assertVarnelError(error, code, reply);
    if (message !== null) assert.equal(error.message, message);
    till.close();
  }
});

test('values the client will not send are refused and nothing goes out', async () => {
  const { box, till } = await boxAndTill(() => '<VERSION>1.0.0</VERSION>');
  const calls = [
    () => till.swipe({ total: '1;2' }),
    () => till.signature({ name: 'A=B' }),
    () => till.pin({ card: '4012345678909', amount: '1;', timeout: 5 }),
    () => till.swipe({ timeout: 0 }),
    () => till.swipe({ timeout: 32768 }),
    () => till.pin({ timeout: 2.5 }),
  ];
  for (const call of calls) assertVarnelError(await rejection(call()), 'refused', null);
  assert.deepEqual(box.requests, []);
  // The client still works after them.
  assert.equal(await till.version(), '1.0.0');
});

test('a request without a reply rejects with no-reply and the next one gets its own reply', async () => {
  const { box, till } = await boxAndTill((text) => (text === 'TRANS=ABORT;' ? undefined
                                                                         : '<VERSION>1.0.0</VERSION>'));
  const started = Date.now();
  assertVarnelError(await rejection(till.request('TRANS=ABORT;', { wait: 50 })), 'no-reply', null);
  assert.ok(Date.now() - started < 1000);
  // The connection that may still bring a late reply is given up.
  assert.equal(box.connections[0].closedByClient, true);
  assert.equal(await till.version(), '1.0.0');
  assert.equal(box.connections.length, 2);
});

test('a box that cannot be reached rejects connect with unreachable, in time', async () => {
  const box = new FakeBox();
  box.install();
  for (const mode of ['down', 'pending', 'insecure']) {
    box.mode = mode;
    const started = Date.now();
    const error = await rejection(connect(BOX_URL, { timeout: 200 }));
    const took = Date.now() - started;
    assertVarnelError(error, 'unreachable', null);
    assert.match(error.message, /local network access/);
    assert.match(error.message, /certificate/);
    assert.ok(took < 1000, `${mode} took ${took} ms`);
    if (mode === 'insecure') assert.ok(took < 100, `insecure took ${took} ms`);
  }
  // The pending connection was given up, not left to open later.
  assert.equal(box.connections.at(-1).readyState, 3);
});

test('the connection ending during a call rejects with closed; the next call reconnects and nothing is sent twice', async () => {
  let hold = false;
  const { box, till } = await boxAndTill((text) => (hold ? undefined : `<VERSION>1.0.0</VERSION>`));
  assert.equal(await till.version(), '1.0.0');
  hold = true;
  const swipe = till.swipe({ timeout: 30 });
  await sleep(20);
  box.restart();
  assertVarnelError(await rejection(swipe), 'closed', null);
  hold = false;
  assert.equal(await till.version(), '1.0.0');
  assert.equal(await till.version(), '1.0.0');
  assert.deepEqual(box.requests, ['TRANS=VERSION;', 'TRANS=QP6100;ACTION=1;TIMER=30;',
                                  'TRANS=VERSION;', 'TRANS=VERSION;']);
  assert.equal(box.connections.length, 2);

  // A restart between calls: the next call opens a fresh connection by itself.
  box.restart();
  await sleep(5);
  assert.equal(await till.version(), '1.0.0');
  assert.equal(box.connections.length, 3);
  // While the box stays down the call says so.
  box.restart();
  box.mode = 'down';
  assertVarnelError(await rejection(till.version()), 'unreachable', null);
  box.mode = 'up';
  assert.equal(await till.version(), '1.0.0');
  assert.equal(box.requests.filter((r) => r === 'TRANS=VERSION;').length, 5);

  till.close();
  assertVarnelError(await rejection(till.version()), 'closed', null);
});

test('aborting a call by its signal rejects with the reason and ends only that call', async () => {
  const { box, till } = await boxAndTill((text) => (text.startsWith('TRANS=QP6100') ? undefined
                                                                                    : '<VERSION>1.0.0</VERSION>'));
  // Under way: the call's connection closes at once (the box ends its operation), and no
  // ABORT goes out (it would reset the pad for another till).
  const controller = new AbortController();
  const swipe = till.swipe({ timeout: 30, signal: controller.signal });
  await sleep(20);
  const reason = new Error('the cashier pressed cancel');
  const started = Date.now();
  controller.abort(reason);
  assert.equal(await rejection(swipe), reason);
  assert.ok(Date.now() - started < 100);
  assert.equal(box.connections[0].closedByClient, true);

  // Queued behind a waiting call: rejects at once and is never sent.
  const first = till.swipe({ timeout: 30 });
  const second = new AbortController();
  const queued = till.version({ signal: second.signal });
  await sleep(20);
  second.abort();
  const error = await rejection(queued);
  assert.equal(error.name, 'AbortError');
  // Already aborted: nothing is sent.
  assert.equal(await rejection(till.version({ signal: AbortSignal.abort('gone') })), 'gone');
  assert.deepEqual(box.requests, ['TRANS=QP6100;ACTION=1;TIMER=30;',
                                  'TRANS=QP6100;ACTION=1;TIMER=30;']);
  assert.ok(!box.requests.includes('TRANS=ABORT;'));
  // The first call was not touched by the others' aborts.
  assert.equal(box.open().length, 1);
  till.close();
  assertVarnelError(await rejection(first), 'closed', null);
});

const KEY = 'Zk3b1wq8V-5yTn0cJr2sXa7LhP4uEm9D';
// An answer every call takes for success; ABORT gets none, as from the box.
const anyOk = (text) => (text.includes('TRANS=ABORT') ? undefined
  : '<STATUS><QP6100>ready</QP6100><1000SE>ready</1000SE></STATUS><VERSION>1.0.0</VERSION>');

test('with a key every request carries it, after a reconnect too; without one requests are as before', async () => {
  const calls = [
    [(till) => till.request('TRANS=VERSION;'), 'TRANS=VERSION;'],
    [(till) => till.request('TIMER=5;'), 'TIMER=5;'],
    [(till) => till.version(), 'TRANS=VERSION;'],
    [(till) => till.status(), 'TRANS=STATUS;'],
    [(till) => till.swipe({ timeout: 9, total: '1.00' }),
     'TRANS=QP6100;ACTION=1;TOTAL=1.00;TIMER=9;'],
    [(till) => till.signature({ id: 'A1', timeout: 9, ftp: true }),
     'TRANS=QP6100;ACTION=2;UNIQU=A1;TIMER=9;DOFTP=Y;'],
    [(till) => till.pin({ card: '4012345678909', amount: 5, timeout: 9 }),
     'TRANS=1000SE;ACTION=3;CREDITCARD=4012345678909;TOTAL=5;TIMER=9;'],
    [(till) => till.abort(), 'TRANS=ABORT;'],
  ];
  for (const [key, front] of [[undefined, ''], ['', ''], [KEY, `KEY=${KEY};`]]) {
    const { box, till } = await boxAndTill(anyOk, { key });
    for (const [call] of calls) await call(till).catch(() => {});
    box.restart();
    await till.version();
    assert.deepEqual(box.requests, [...calls.map(([, text]) => front + text),
                                    `${front}TRANS=VERSION;`]);
    till.close();
  }
  // A key that would change the request's meaning: nothing is opened, let alone sent.
  for (const key of ['abc;TRANS=ABORT', 'a=b']) {
    const box = new FakeBox();
    box.install();
    assertVarnelError(await rejection(connect(BOX_URL, { key })), 'refused', null);
    assert.equal(box.connections.length, 0);
  }
});

test('pair sends the code without a key and resolves to the key, which every later request carries', async () => {
  let paired = 0;
  const { box, till } = await boxAndTill((text) => (text.includes('TRANS=PAIR') ?
    `<PAIR><TILL>FRONT</TILL><KEY>key${++paired}</KEY></PAIR>` : anyOk(text)));
  // A call queued behind the pairing already goes with the new key.
  const [key, version] = await Promise.all([till.pair('AB12CD34'), till.version()]);
  assert.deepEqual([key, version], ['key1', '1.0.0']);
  assert.equal(await till.pair('ZZ98YY76'), 'key2');
  await till.abort();
  await till.swipe({ timeout: 5 });
  assert.deepEqual(box.requests, ['TRANS=PAIR;CODE=AB12CD34;', 'KEY=key1;TRANS=VERSION;',
                                  'TRANS=PAIR;CODE=ZZ98YY76;', 'KEY=key2;TRANS=ABORT;',
                                  'KEY=key2;TRANS=QP6100;ACTION=1;TIMER=5;']);
  for (const code of ['AB12;D34', 'AB=2CD34', '', undefined])
    assertVarnelError(await rejection(till.pair(code)), 'refused', null);
  assert.equal(box.requests.length, 5);
  till.close();
});

test('a refused pairing or a Not Authorised reply rejects with not-authorised; the key held stays', async () => {
  const cases = [
    ['pair', '<PAIR><ERROR>Wrong Code</ERROR></PAIR>', 'Wrong Code'],
    ['pair', '<PAIR><ERROR>Pairing Locked</ERROR></PAIR>', 'Pairing Locked'],
    ['pair', '<PAIR><ERROR>Needs TLS</ERROR></PAIR>', 'Needs TLS'],
    ['pair', '<PAIR><ERROR>Try Again</ERROR></PAIR>', 'Try Again'],
    ['swipe', '<QP6100><ERROR>Not Authorised</ERROR></QP6100>', 'Not Authorised'],
    ['signature', '<QP6100><ERROR>Not Authorised</ERROR></QP6100>', 'Not Authorised'],
    ['pin', '<1000SE><ERROR>Not Authorised</ERROR></1000SE>', 'Not Authorised'],
  ];
  for (const [call, reply, message] of cases) {
    const answer = (text) => (text.includes('VERSION') ? anyOk(text) : reply);
    const { box, till } = await boxAndTill(answer, { key: 'old' });
    const options = call === 'pair' ? 'K7QF2M9X' : { timeout: 5, card: '4012345678909' };
    const error = await rejection(till[call](options));
    assertVarnelError(error, 'not-authorised', reply);
    assert.equal(error.message, message);
    await till.version();
    assert.equal(box.requests.at(-1), 'KEY=old;TRANS=VERSION;', call);
    till.close();
  }
});

test('status parses the devices\' states', async () => {
  const { box, till } = await boxAndTill(() =>
    '<STATUS><QP6100>busy</QP6100><1000SE>disconnected</1000SE></STATUS>');
  assert.deepEqual(await till.status(), { pad: 'busy', pinPad: 'disconnected' });
  assert.deepEqual(box.requests, ['TRANS=STATUS;']);
  box.answer = () => '<VERSION>1.0.0</VERSION>';
  assertVarnelError(await rejection(till.status()), 'device', '<VERSION>1.0.0</VERSION>');
  till.close();
});

test('the results of the device calls', async () => {
  const replies = {
    'TRANS=QP6100;ACTION=1;TOTAL=12.34;TIMER=9;':
      '<QP6100><SWIPE><TRACK1>%B4111^DOE/J^29?</TRACK1><TRACK2>;4111=29?</TRACK2></SWIPE></QP6100>',
    'TRANS=QP6100;ACTION=2;UNIQU=A1;NAME=Jane Doe;TIMER=60;DOFTP=Y;':
      '<QP6100><SIGNATURE>OK</SIGNATURE><SIGPATH>/x/A1.pcx</SIGPATH></QP6100>',
    'TRANS=1000SE;ACTION=3;CREDITCARD=4012345678909;TOTAL=5;TIMER=60;':
      '<1000SE><PINBLOCK>ABCD</PINBLOCK><KSN>FFFF</KSN></1000SE>',
  };
  const { till } = await boxAndTill((text) => replies[text]);
  assert.deepEqual(await till.swipe({ total: '12.34', timeout: 9 }),
                   { track1: '%B4111^DOE/J^29?', track2: ';4111=29?' });
  assert.deepEqual(await till.signature({ id: 'A1', name: 'Jane Doe', ftp: true }),
                   { path: '/x/A1.pcx' });
  assert.deepEqual(await till.pin({ card: '4012345678909', amount: 5 }),
                   { pinBlock: 'ABCD', ksn: 'FFFF' });
  till.close();
});

test('varnel.d.ts declares every export and every method of the client', async () => {
  const { readFile } = await import('node:fs/promises');
  const declarations = await readFile(new URL('../varnel.d.ts', import.meta.url), 'utf8');
  const module = await import('../varnel.js');
  for (const name of Object.keys(module))
    assert.match(declarations, new RegExp(`export (class|function) ${name}\\b`), name);
  const { till } = await boxAndTill(() => undefined);
  const client = declarations.slice(declarations.indexOf('export interface VarnelClient'));
  const methods = Object.getOwnPropertyNames(Object.getPrototypeOf(till))
    .filter((name) => name !== 'constructor');
  assert.ok(methods.length >= 8);
  for (const name of methods) assert.match(client, new RegExp(`\\n  ${name}\\(`), name);
  // Nothing but the methods is reachable from outside: the state is private.
  assert.deepEqual(Object.keys(till), []);
  till.close();
});
