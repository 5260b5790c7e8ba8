// Client for the Varnel Payment Server's WebSocket port, for tills that run in a browser.
// One ES module, no dependencies:
//
//   import { connect, VarnelError } from './varnel.js';
//   const till = await connect('wss://box1.shop.example:31421', { key: savedKey });
//   const { track1, track2 } = await till.swipe({ timeout: 30 });
//
// Every method returns a promise. Requests on one client go out one at a time, in order, each
// after the previous one's reply; abort() alone goes out at once. Every failure rejects with a
// VarnelError whose `code` says what went wrong (see VarnelError), except an abort by a call's
// `signal`, which rejects with the signal's reason.

// Seconds a device operation waits when the call names none.
const DEFAULT_TIMEOUT = 60;
// What the client waits beyond an operation's own limit before it gives up on the reply.
const REPLY_MARGIN_MS = 5000;
// How long a VERSION, a STATUS or a raw request waits for its reply.
const DEFAULT_REPLY_WAIT_MS = 10000;
// How long opening a connection may take, the browser's pending prompt included.
const DEFAULT_CONNECT_TIMEOUT_MS = 10000;

// Everything a page cannot tell apart when a connection never opens: the browser says no more.
const UNREACHABLE_CAUSES =
  'the box is off or not at this name or address; its certificate is not trusted on this ' +
  'machine or does not name this host; the browser does not allow this page local network ' +
  'access; or an https page used ws:// instead of wss://';

// The ERROR texts that mean another operation holds the device.
const BUSY_TEXTS = new Set(['Pad Busy', 'PIN Pad Busy']);
// The ERROR text of a request the box refuses for want of a registered till's key.
const NOT_AUTHORISED_TEXT = 'Not Authorised';

// What went wrong, as `code`:
//   unreachable  never connected (box down, wrong name, certificate not trusted, local network
//                access not allowed, ws:// from an https page)
//   closed       the connection ended during a call, or the client was closed
//   no-reply     no reply within the client's wait
//   timeout      the TIMEOUT reply: nobody swiped or signed in time
//   busy         another operation holds the device (Pad Busy, PIN Pad Busy)
//   cancelled    the PIN entry was cancelled
//   refused      a value the client will not send (nothing was sent)
//   not-authorised
//                the box refused this till, its key missing, wrong or removed (Not
//                Authorised), or refused to pair it; the message is the box's text (Wrong
//                Code, Pairing Locked, Needs TLS, Try Again)
//   device       any other ERROR reply; the message is its text
// `reply` is the raw reply when there was one, else null.
export class VarnelError extends Error {
  constructor(code, message, reply = null) {
    super(message);
    this.name = 'VarnelError';
    this.code = code;
    this.reply = reply;
  }
}

function tagged(reply, tag) {
  const match = new RegExp(`<${tag}>([\\s\\S]*?)</${tag}>`).exec(reply);
  return match ? match[1] : null;
}

// Turns a device reply into its result, or throws the VarnelError the reply stands for.
function checkReply(reply) {
  const error = tagged(reply, 'ERROR');
  if (error !== null) {
    const code = BUSY_TEXTS.has(error) ? 'busy'
      : error === NOT_AUTHORISED_TEXT ? 'not-authorised' : 'device';
    throw new VarnelError(code, error, reply);
  }
  if (tagged(reply, 'TIMEOUT') !== null)
    throw new VarnelError('timeout', 'nobody swiped or signed in time', reply);
  if (tagged(reply, 'CANCEL') !== null)
    throw new VarnelError('cancelled', 'the PIN entry was cancelled', reply);
  return reply;
}

function seconds(value, name) {
  const number = value === undefined ? DEFAULT_TIMEOUT : Number(value);
  if (!Number.isInteger(number) || number < 1 || number > 32767)
    throw new VarnelError('refused', `${name} must be a whole number of seconds from 1 to 32767`);
  return number;
}

// Builds `TAG=value;` pieces. A value holding ";" or "=" would change the request's meaning,
// so it is refused before anything is sent.
function requestText(pieces) {
  let text = '';
  for (const [tag, value] of pieces) {
    if (value === undefined || value === null) continue;
    const written = String(value);
    if (written.includes(';') || written.includes('='))
      throw new VarnelError('refused', `${tag} must not hold ";" or "=": ${written}`);
    text += `${tag}=${written};`;
  }
  return text;
}

// A key is sent as a tag's value, so it may hold neither ";" nor "="; the message leaves the
// key itself out, as it is a secret.
function checkKey(key) {
  if (key.includes(';') || key.includes('='))
    throw new VarnelError('refused', 'the key must not hold ";" or "="');
  return key;
}

// The key out of a PAIR reply, or the VarnelError the reply stands for.
function pairedKey(reply) {
  const pair = tagged(reply, 'PAIR');
  if (pair === null) {
    checkReply(reply);
    throw new VarnelError('device', `not a PAIR reply: ${reply}`, reply);
  }
  const error = tagged(pair, 'ERROR');
  if (error !== null) throw new VarnelError('not-authorised', error, reply);
  const key = tagged(pair, 'KEY');
  if (!key || key.includes(';') || key.includes('='))
    throw new VarnelError('device', 'the PAIR reply holds no usable key', reply);
  return key;
}

function unreachable(url, detail) {
  return new VarnelError('unreachable', `cannot connect to ${url}${detail}. Possible causes: ` +
                         `${UNREACHABLE_CAUSES}.`);
}

// Opens a WebSocket, resolving once it is open. Rejects with `unreachable` when it closes
// first or is still pending after `timeoutMs` (the browser may hold it while a permission
// prompt waits), and with the signal's reason when `signal` aborts.
function openSocket(url, timeoutMs, signal) {
  return new Promise((resolve, reject) => {
    if (signal?.aborted) {
      reject(signal.reason);
      return;
    }
    let socket;
    try {
      socket = new WebSocket(url);
    } catch (error) {
      // A bad URL, or ws:// from an https page: the browser refuses at once.
      reject(unreachable(url, ` (${error?.message ?? error})`));
      return;
    }
    const settle = (outcome) => {
      clearTimeout(timer);
      signal?.removeEventListener('abort', onAbort);
      socket.onopen = socket.onerror = socket.onclose = null;
      outcome();
    };
    const giveUp = (error) => settle(() => {
      socket.close();
      reject(error);
    });
    const onAbort = () => giveUp(signal.reason);
    const timer = setTimeout(() => giveUp(unreachable(url, ` within ${timeoutMs} ms`)), timeoutMs);
    signal?.addEventListener('abort', onAbort);
    socket.onopen = () => settle(() => resolve(socket));
    socket.onerror = socket.onclose = () => settle(() => reject(unreachable(url, '')));
  });
}

class VarnelClient {
  #url;
  #connectTimeout;
  // This till's key, sent in front of every request; null: none.
  #key;
  #socket;
  // The call awaiting its reply: { resolve, reject, socket }.
  #waiting = null;
  #queue = Promise.resolve();
  #closed = false;
  // A connection being opened, shared by abort() and a queued call.
  #opening = null;

  constructor(url, socket, connectTimeout, key) {
    this.#url = url;
    this.#connectTimeout = connectTimeout;
    this.#key = key;
    this.#socket = null;
    this.#adopt(socket);
  }

  #adopt(socket) {
    this.#socket = socket;
    socket.onmessage = (event) => {
      const waiting = this.#waiting;
      if (!waiting || waiting.socket !== socket) return;
      this.#waiting = null;
      waiting.resolve(String(event.data));
    };
    // The box restarted or the network dropped: the call under way fails and is never sent
    // again; the next call opens a fresh connection.
    socket.onclose = () => {
      if (this.#socket === socket) this.#socket = null;
      const waiting = this.#waiting;
      if (!waiting || waiting.socket !== socket) return;
      this.#waiting = null;
      waiting.reject(new VarnelError('closed', 'the connection to the box ended during the call'));
    };
  }

  // Drops the current connection so that nothing more arrives on it.
  #drop(socket) {
    if (this.#socket === socket) this.#socket = null;
    socket.onmessage = socket.onclose = null;
    socket.close();
  }

  async #openSocket(signal) {
    if (this.#closed) throw new VarnelError('closed', 'the client is closed');
    if (this.#socket && this.#socket.readyState === 1) return this.#socket;
    if (!this.#opening) {
      this.#opening = openSocket(this.#url, this.#connectTimeout).then((socket) => {
        this.#opening = null;
        if (this.#closed) {
          socket.close();
          throw new VarnelError('closed', 'the client is closed');
        }
        this.#adopt(socket);
        return socket;
      }, (error) => {
        this.#opening = null;
        throw error;
      });
    }
    if (!signal) return this.#opening;
    // Only this call stops waiting; the shared opening goes on for the others.
    return new Promise((resolve, reject) => {
      const onAbort = () => reject(signal.reason);
      signal.addEventListener('abort', onAbort, { once: true });
      this.#opening.then(resolve, reject).finally(() => signal.removeEventListener('abort', onAbort));
    });
  }

  // The request as it goes out: with the key in front, when the till has one. The key is the
  // one held when the request is sent, so a request queued behind a pairing gets the new one.
  #keyed(text) {
    return this.#key === null ? text : `KEY=${this.#key};${text}`;
  }

  // Sends one request once the ones before it are done, and waits up to `waitMs` for its
  // reply. An abort by `signal` before the request goes out rejects at once and it is never
  // sent; after, the connection is closed, which ends the device operation on the box.
  // `keyed: false` sends it without the key; `then` turns the reply into the result before
  // the next request goes out.
  #enqueue(text, waitMs, signal, { keyed = true, then = (reply) => reply } = {}) {
    if (signal?.aborted) return Promise.reject(signal.reason);
    let started = false;
    let dropped = false;
    const run = async () => {
      if (dropped) throw signal.reason;
      started = true;
      signal?.throwIfAborted();
      const socket = await this.#openSocket(signal);
      signal?.throwIfAborted();
      return then(await this.#send(socket, keyed ? this.#keyed(text) : text, waitMs, signal));
    };
    const queued = this.#queue.then(run, run);
    this.#queue = queued.catch(() => {});
    if (!signal) return queued;
    return new Promise((resolve, reject) => {
      const onAbort = () => {
        if (started) return;
        dropped = true;
        reject(signal.reason);
      };
      signal.addEventListener('abort', onAbort, { once: true });
      queued.then(resolve, reject).finally(() => signal.removeEventListener('abort', onAbort));
    });
  }

  #send(socket, text, waitMs, signal) {
    return new Promise((resolve, reject) => {
      let timer;
      const finish = (outcome) => {
        clearTimeout(timer);
        signal?.removeEventListener('abort', onAbort);
        if (this.#waiting?.socket === socket) this.#waiting = null;
        outcome();
      };
      const onAbort = () => finish(() => {
        // The box ends the operation of a connection that closed at its next half-second
        // step and shows the pad's welcome form; an ABORT request would also reset the pad
        // while another till holds it.
        this.#drop(socket);
        reject(signal.reason);
      });
      timer = setTimeout(() => finish(() => {
        // A reply that still comes would be taken for the next request's: start afresh on a
        // new connection instead.
        this.#drop(socket);
        reject(new VarnelError('no-reply', `no reply within ${waitMs} ms`));
      }), waitMs);
      signal?.addEventListener('abort', onAbort, { once: true });
      this.#waiting = {
        socket,
        resolve: (reply) => finish(() => resolve(reply)),
        reject: (error) => finish(() => reject(error)),
      };
      socket.send(text);
    });
  }

  // Sends a request text as it stands and resolves to the raw reply. Requests that get no
  // reply (ABORT, malformed ones) reject with "no-reply" after `wait` milliseconds.
  request(text, { wait = DEFAULT_REPLY_WAIT_MS, signal } = {}) {
    return this.#enqueue(String(text), wait, signal);
  }

  // The server's version text.
  async version({ signal } = {}) {
    const reply = await this.#enqueue('TRANS=VERSION;', DEFAULT_REPLY_WAIT_MS, signal);
    const version = tagged(reply, 'VERSION');
    if (version === null) checkReply(reply);
    return version;
  }

  // The devices' states: { pad, pinPad }, each "ready", "busy", "disconnected" or "off".
  async status({ signal } = {}) {
    const reply = await this.#enqueue('TRANS=STATUS;', DEFAULT_REPLY_WAIT_MS, signal);
    const status = tagged(reply, 'STATUS');
    if (status === null) {
      checkReply(reply);
      throw new VarnelError('device', `not a STATUS reply: ${reply}`, reply);
    }
    return { pad: tagged(status, 'QP6100'), pinPad: tagged(status, '1000SE') };
  }

  // Asks the customer to swipe a card; resolves to the card's first two tracks.
  async swipe({ timeout, total, signal } = {}) {
    const limit = seconds(timeout, 'timeout');
    const text = requestText([['TRANS', 'QP6100'], ['ACTION', '1'], ['TOTAL', total],
                              ['TIMER', limit]]);
    const reply = checkReply(await this.#enqueue(text, limit * 1000 + REPLY_MARGIN_MS, signal));
    return { track1: tagged(reply, 'TRACK1') ?? '', track2: tagged(reply, 'TRACK2') ?? '' };
  }

  // Asks the customer to sign; resolves to the path of the stored picture on the server.
  // `ftp: true` also uploads it, to `ftpPath` when given.
  async signature({ id, name, total, account, timeout, ftp = false, ftpPath, signal } = {}) {
    const limit = seconds(timeout, 'timeout');
    const text = requestText([['TRANS', 'QP6100'], ['ACTION', '2'], ['UNIQU', id],
                              ['NAME', name], ['TOTAL', total], ['ACCOUNT', account],
                              ['TIMER', limit], ['DOFTP', ftp ? 'Y' : undefined],
                              ['FTPPATH', ftpPath]]);
    // The upload may take as long again as the signing.
    const reply = checkReply(await this.#enqueue(text, 2 * limit * 1000 + REPLY_MARGIN_MS,
                                                 signal));
    return { path: tagged(reply, 'SIGPATH') ?? '' };
  }

  // Asks the customer for the PIN of `card` on the PIN pad, showing `amount`; resolves to the
  // PIN block and its key serial number.
  async pin({ card, amount, timeout, signal } = {}) {
    const limit = seconds(timeout, 'timeout');
    const text = requestText([['TRANS', '1000SE'], ['ACTION', '3'], ['CREDITCARD', card],
                              ['TOTAL', amount], ['TIMER', limit]]);
    const reply = checkReply(await this.#enqueue(text, limit * 1000 + REPLY_MARGIN_MS, signal));
    return { pinBlock: tagged(reply, 'PINBLOCK') ?? '', ksn: tagged(reply, 'KSN') ?? '' };
  }

  // Pairs this till with the box by the code its operator got from the box; resolves to the
  // till's key, which the client sends with every request from then on. Keep it, and pass it
  // to connect() next time. A refusal rejects with "not-authorised", its text the message.
  // The PAIR request itself goes without a key: it is how a till gets one.
  async pair(code, { signal } = {}) {
    if (code === undefined || code === null || String(code) === '')
      throw new VarnelError('refused', 'a pairing code is needed');
    const text = requestText([['TRANS', 'PAIR'], ['CODE', code]]);
    return this.#enqueue(text, DEFAULT_REPLY_WAIT_MS, signal, {
      keyed: false,
      then: (reply) => {
        this.#key = pairedKey(reply);
        return this.#key;
      },
    });
  }

  // Sends TRANS=ABORT at once, even while another request waits: the pad shows its welcome
  // form, whichever till's operation holds it. The server sends no reply. To end only this
  // till's own call, abort its `signal` instead.
  async abort({ signal } = {}) {
    const socket = await this.#openSocket(signal);
    socket.send(this.#keyed('TRANS=ABORT;'));
  }

  // Closes the connection; a call still waiting, and any later one, rejects with "closed".
  close() {
    this.#closed = true;
    const socket = this.#socket;
    const waiting = this.#waiting;
    this.#socket = null;
    this.#waiting = null;
    waiting?.reject(new VarnelError('closed', 'the client is closed'));
    if (socket) {
      socket.onmessage = socket.onclose = null;
      socket.close();
    }
  }
}

// Opens a connection to the server's WebSocket port (`ws://host:port` or `wss://host:port`)
// and resolves to a client on it. Rejects with an `unreachable` VarnelError when it is not
// open within `timeout` milliseconds (default 10000); the client reconnects the same way later.
// `key` is this till's key: the client sends it as KEY=key; in front of every request. One
// holding ";" or "=" rejects with "refused" before any connection is opened.
export async function connect(url, { timeout = DEFAULT_CONNECT_TIMEOUT_MS, signal, key } = {}) {
  const written = key === undefined || key === null || key === '' ? null : checkKey(String(key));
  return new VarnelClient(url, await openSocket(url, timeout, signal), timeout, written);
}
