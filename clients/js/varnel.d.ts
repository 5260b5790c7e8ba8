// Declarations of clients/js/varnel.js, the Varnel Payment Server's client for browser tills.

/** What went wrong with a call; see {@link VarnelError.code}. */
export type VarnelErrorCode =
  | 'unreachable' // never connected: box down, wrong name, certificate not trusted, local
                  // network access not allowed, ws:// from an https page
  | 'closed'      // the connection ended during the call, or the client was closed
  | 'no-reply'    // no reply within the client's wait
  | 'timeout'     // the TIMEOUT reply: nobody swiped or signed in time
  | 'busy'        // another operation holds the device (Pad Busy, PIN Pad Busy)
  | 'cancelled'   // the PIN entry was cancelled
  | 'refused'     // a value the client will not send; nothing was sent
  | 'not-authorised' // the box refused this till (Not Authorised), or pairing failed; the
                     // message is the box's text: Wrong Code, Pairing Locked, Needs TLS,
                     // Try Again
  | 'device';     // any other ERROR reply; the message is its text

/** Every failure of the client, except an abort by a call's signal (which rejects with the
 *  signal's reason). */
export class VarnelError extends Error {
  constructor(code: VarnelErrorCode, message: string, reply?: string | null);
  readonly name: 'VarnelError';
  readonly code: VarnelErrorCode;
  /** The raw reply, when there was one. */
  readonly reply: string | null;
}

/** Options every call takes. Aborting the signal rejects the call with the signal's reason: a
 *  call not yet sent is never sent; a call under way ends its device operation on the box (the
 *  pad back to its welcome form) within a second, by closing this client's connection. */
export interface CallOptions {
  signal?: AbortSignal;
}

export interface ConnectOptions extends CallOptions {
  /** Milliseconds to wait for the connection to open (default 10000), also on reconnects. */
  timeout?: number;
  /** This till's key, sent as `KEY=key;` with every request. One holding ";" or "=" rejects
   *  with code "refused" before anything is opened or sent. */
  key?: string;
}

export interface RequestOptions extends CallOptions {
  /** Milliseconds to wait for the reply (default 10000). */
  wait?: number;
}

/** A device's state in a STATUS reply. */
export type DeviceState = 'ready' | 'busy' | 'disconnected' | 'off';

export interface Status {
  /** The QP6100 signature pad. */
  pad: DeviceState | null;
  /** The 1000SE PIN pad. */
  pinPad: DeviceState | null;
}

export interface SwipeOptions extends CallOptions {
  /** Whole seconds from 1 to 32767 (default 60). */
  timeout?: number;
  total?: string | number;
}

export interface Swipe {
  track1: string;
  track2: string;
}

export interface SignatureOptions extends CallOptions {
  id?: string;
  name?: string;
  total?: string | number;
  account?: string | number;
  /** Whole seconds from 1 to 32767 (default 60). */
  timeout?: number;
  /** Also upload the picture by FTP. */
  ftp?: boolean;
  ftpPath?: string;
}

export interface Signature {
  /** The picture's path on the server. */
  path: string;
}

export interface PinOptions extends CallOptions {
  card?: string | number;
  amount?: string | number;
  /** Whole seconds from 1 to 32767 (default 60). */
  timeout?: number;
}

export interface Pin {
  pinBlock: string;
  ksn: string;
}

/** A connection to the box's WebSocket port. Calls go out one at a time, in order; after the
 *  connection ended (the box restarted) the next call opens a new one. No request is sent
 *  twice. */
export interface VarnelClient {
  /** Sends `text` as it stands; resolves to the raw reply. */
  request(text: string, options?: RequestOptions): Promise<string>;
  /** The server's version text. */
  version(options?: CallOptions): Promise<string>;
  /** The devices' states. */
  status(options?: CallOptions): Promise<Status>;
  swipe(options?: SwipeOptions): Promise<Swipe>;
  signature(options?: SignatureOptions): Promise<Signature>;
  pin(options?: PinOptions): Promise<Pin>;
  /** Pairs this till by the code the box's operator got; resolves to the till's key, which the
   *  client sends with every later request. A refusal rejects with code "not-authorised" and
   *  the box's text as the message. */
  pair(code: string, options?: CallOptions): Promise<string>;
  /** Sends TRANS=ABORT at once: the pad shows its welcome form, whichever till holds it. */
  abort(options?: CallOptions): Promise<void>;
  /** Closes the connection; later calls reject with code "closed". */
  close(): void;
}

/** Opens `ws://host:port` or `wss://host:port`; rejects with code "unreachable" when the
 *  connection is not open within the time-out. */
export function connect(url: string, options?: ConnectOptions): Promise<VarnelClient>;
