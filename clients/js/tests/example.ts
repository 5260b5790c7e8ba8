// A till's use of the client, type-checked against varnel.d.ts with `tsc --strict --noEmit`.
import { connect, VarnelClient, VarnelError, VarnelErrorCode, Status } from '../varnel.js';

// A till without a key pairs by the operator's code and keeps the key for the next start.
async function pairTill(url: string, code: string): Promise<string | undefined> {
  const till = await connect(url);
  const cancel = new AbortController();
  try {
    const key: string = await till.pair(code, { signal: cancel.signal });
    return key;
  } catch (error) {
    if (!(error instanceof VarnelError) || error.code !== 'not-authorised') throw error;
    // Wrong Code, Pairing Locked, Needs TLS or Try Again, for the cashier.
    console.log(error.message);
    return undefined;
  } finally {
    till.close();
  }
}

async function sale(url: string, key?: string): Promise<string> {
  const controller = new AbortController();
  let till: VarnelClient;
  try {
    till = await connect(url, { timeout: 5000, signal: controller.signal, key });
  } catch (error) {
    if (error instanceof VarnelError && error.code === 'unreachable') return error.message;
    throw error;
  }
  const version: string = await till.version({ signal: controller.signal });
  const status: Status = await till.status();
  const ready: boolean = status.pad === 'ready' && status.pinPad !== 'off';
  try {
    const { track1, track2 } = await till.swipe({ timeout: 30, total: '12.34', signal: controller.signal });
    const { path } = await till.signature({ id: 'A1', name: 'Jane Doe', total: 12.34, account: 4000,
                                            timeout: 30, ftp: true, ftpPath: '/in/' });
    const { pinBlock, ksn } = await till.pin({ card: '4012345678909', amount: '12.34', timeout: 30 });
    const raw: string = await till.request('TRANS=VERSION;', { wait: 3000 });
    await till.abort();
    return [version, ready, track1, track2, path, pinBlock, ksn, raw].join(' ');
  } catch (error) {
    if (!(error instanceof VarnelError)) throw error;
    const code: VarnelErrorCode = error.code;
    // The till's key was removed at the box: it needs pairing again.
    if (code === 'not-authorised') return `pair again: ${error.message}`;
    const reply: string | null = error.reply;
    const name: 'VarnelError' = error.name;
    return `${name} ${code} ${reply ?? ''}`;
  } finally {
    till.close();
  }
}

pairTill('wss://box1.shop.example:31421', 'K7QF2M9X')
  .then((key) => sale('wss://box1.shop.example:31421', key))
  .then((text) => console.log(text));
