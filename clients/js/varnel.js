// Client for the Varnel Payment Server's WebSocket port, for tills that run in a browser.
// One ES module, no dependencies:
//
//   import { connect } from './varnel.js';
//   const till = await connect('ws://127.0.0.1:31421');
//   const { track1, track2 } = await till.swipe({ timeout: 30 });
//
// Every method returns a promise. Requests on one client go out one at a time, in order, each
// after the previous one's reply; abort() alone goes out at once, so that it can end a wait.
// A time-out, a cancelled PIN entry or an ERROR reply rejects with an Error whose message is
// "timeout", "cancelled" or the ERROR text.

// Seconds a device operation waits when the call names none.
const DEFAULT_TIMEOUT = 60;
// What the client waits beyond an operation's own limit before it gives up on the reply.
const REPLY_MARGIN_MS = 5000;
// How long a VERSION or a raw request waits for its reply.
const DEFAULT_REPLY_WAIT_MS = 10000;

function tagged(reply, tag) {
  const match = new RegExp(`<${tag}>([\\s\\S]*?)</${tag}>`).exec(reply);
  return match ? match[1] : null;
}

// Turns a device reply into its result, or throws the Error the reply stands for.
function checkReply(reply) {
  const error = tagged(reply, 'ERROR');
  if (error !== null) throw new Error(error);
  if (tagged(reply, 'TIMEOUT') !== null) throw new Error('timeout');
  if (tagged(reply, 'CANCEL') !== null) throw new Error('cancelled');
  return reply;
}

function seconds(value, name) {
  const number = value === undefined ? DEFAULT_TIMEOUT : Number(value);
  if (!Number.isInteger(number) || number < 1 || number > 32767)
    throw new Error(`${name} must be a whole number of seconds from 1 to 32767`);
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
      throw new Error(`${tag} must not hold ";" or "=": ${written}`);
    text += `${tag}=${written};`;
  }
  return text;
}

function openSocket(url) {
  return new Promise((resolve, reject) => {
    const socket = new WebSocket(url);
    socket.onopen = () => resolve(socket);
    socket.onerror = () => reject(new Error(`cannot connect to ${url}`));
    socket.onclose = () => reject(new Error(`cannot connect to ${url}`));
  });
}

class VarnelClient {
  constructor(url, socket) {
    this._url = url;
    this._socket = socket;
    this._waiting = null; // { resolve, reject, timer } of the request awaiting its reply
    this._queue = Promise.resolve();
    this._closed = false;
    this._opening = null;
    this._watch(socket);
  }

  _watch(socket) {
    socket.onmessage = (event) => {
      if (socket !== this._socket || !this._waiting) return;
      const waiting = this._waiting;
      this._waiting = null;
      clearTimeout(waiting.timer);
      waiting.resolve(String(event.data));
    };
    socket.onclose = () => {
      if (socket !== this._socket) return;
      this._socket = null;
      this._fail(new Error('connection closed'));
    };
  }

  _fail(error) {
    if (!this._waiting) return;
    const waiting = this._waiting;
    this._waiting = null;
    clearTimeout(waiting.timer);
    waiting.reject(error);
  }

  async _socketForRequest() {
    if (this._closed) throw new Error('client closed');
    if (this._socket) return this._socket;
    // abort() and a queued request may both need a new connection: they share one.
    if (!this._opening) {
      this._opening = openSocket(this._url).then((socket) => {
        this._opening = null;
        if (this._closed) {
          socket.close();
          throw new Error('client closed');
        }
        this._socket = socket;
        this._watch(socket);
        return socket;
      }, (error) => {
        this._opening = null;
        throw error;
      });
    }
    return this._opening;
  }

  // Sends one request once the ones before it are done, and waits up to `waitMs` for its reply.
  _enqueue(text, waitMs) {
    const run = async () => {
      const socket = await this._socketForRequest();
      return new Promise((resolve, reject) => {
        const timer = setTimeout(() => {
          // A reply that still comes would be taken for the next request's: start afresh on a
          // new connection instead.
          this._waiting = null;
          this._socket = null;
          socket.close();
          reject(new Error('timeout'));
        }, waitMs);
        this._waiting = { resolve, reject, timer };
        socket.send(text);
      });
    };
    const result = this._queue.then(run, run);
    this._queue = result.catch(() => {});
    return result;
  }

  // Sends a request text as it stands and resolves to the raw reply. Requests that get no
  // reply (ABORT, malformed ones) reject with "timeout" after `wait` milliseconds.
  request(text, { wait = DEFAULT_REPLY_WAIT_MS } = {}) {
    return this._enqueue(String(text), wait);
  }

  // The server's version text.
  async version() {
    const reply = await this._enqueue('TRANS=VERSION;', DEFAULT_REPLY_WAIT_MS);
    const version = tagged(reply, 'VERSION');
    if (version === null) checkReply(reply);
    return version;
  }

  // Asks the customer to swipe a card; resolves to the card's first two tracks.
  async swipe({ timeout, total } = {}) {
    const limit = seconds(timeout, 'timeout');
    const text = requestText([['TRANS', 'QP6100'], ['ACTION', '1'], ['TOTAL', total],
                              ['TIMER', limit]]);
    const reply = checkReply(await this._enqueue(text, limit * 1000 + REPLY_MARGIN_MS));
    return { track1: tagged(reply, 'TRACK1') ?? '', track2: tagged(reply, 'TRACK2') ?? '' };
  }

  // Asks the customer to sign; resolves to the path of the stored picture on the server.
  // `ftp: true` also uploads it, to `ftpPath` when given.
  async signature({ id, name, total, account, timeout, ftp = false, ftpPath } = {}) {
    const limit = seconds(timeout, 'timeout');
    const text = requestText([['TRANS', 'QP6100'], ['ACTION', '2'], ['UNIQU', id],
                              ['NAME', name], ['TOTAL', total], ['ACCOUNT', account],
                              ['TIMER', limit], ['DOFTP', ftp ? 'Y' : undefined],
                              ['FTPPATH', ftpPath]]);
    // The upload may take as long again as the signing.
    const reply = checkReply(await this._enqueue(text, 2 * limit * 1000 + REPLY_MARGIN_MS));
    return { path: tagged(reply, 'SIGPATH') ?? '' };
  }

  // Asks the customer for the PIN of `card` on the PIN pad, showing `amount`; resolves to the
  // PIN block and its key serial number.
  async pin({ card, amount, timeout } = {}) {
    const limit = seconds(timeout, 'timeout');
    const text = requestText([['TRANS', '1000SE'], ['ACTION', '3'], ['CREDITCARD', card],
                              ['TOTAL', amount], ['TIMER', limit]]);
    const reply = checkReply(await this._enqueue(text, limit * 1000 + REPLY_MARGIN_MS));
    return { pinBlock: tagged(reply, 'PINBLOCK') ?? '', ksn: tagged(reply, 'KSN') ?? '' };
  }

  // Sends the pad back to its welcome form, at once, even while another request waits. The
  // server sends no reply.
  async abort() {
    const socket = await this._socketForRequest();
    socket.send('TRANS=ABORT;');
  }

  // Closes the connection; a request still waiting rejects with "client closed".
  close() {
    this._closed = true;
    const socket = this._socket;
    this._socket = null;
    this._fail(new Error('client closed'));
    if (socket) socket.close();
  }
}

// Opens a connection to the server's WebSocket port (`ws://host:port` or `wss://host:port`)
// and resolves to a client on it.
export async function connect(url) {
  return new VarnelClient(url, await openSocket(url));
}
