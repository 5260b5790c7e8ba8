// A stand-in for the browser's WebSocket and the box behind it, for the client's logic tests.
// The box answers each request with what `answer(text)` returns (nothing: no reply), and
// records every request and every connection.

export class FakeBox {
  constructor() {
    // 'up' opens connections, 'down' refuses them, 'pending' never answers (a prompt nobody
    // answers), 'insecure' makes the constructor throw as a browser does for ws:// from https.
    this.mode = 'up';
    this.answer = () => undefined;
    this.requests = [];
    this.connections = [];
  }

  // The box restarts: every connection ends.
  restart() {
    for (const socket of this.connections) socket.serverClose(1006);
  }

  open() {
    return this.connections.filter((socket) => socket.readyState === 1);
  }

  install() {
    const box = this;
    globalThis.WebSocket = class FakeWebSocket {
      constructor(url) {
        if (box.mode === 'insecure') {
          const error = new Error('An insecure WebSocket connection may not be initiated from a page loaded over HTTPS.');
          error.name = 'SecurityError';
          throw error;
        }
        this.url = url;
        this.readyState = 0;
        this.closedByClient = false;
        box.connections.push(this);
        if (box.mode === 'up') {
          setTimeout(() => {
            if (this.readyState !== 0) return;
            this.readyState = 1;
            this.onopen?.({});
          }, 1);
        } else if (box.mode === 'down') {
          setTimeout(() => {
            this.readyState = 3;
            this.onerror?.({});
            this.onclose?.({ code: 1006 });
          }, 1);
        }
      }

      send(text) {
        if (this.readyState !== 1) throw new Error('not open');
        box.requests.push(text);
        const reply = box.answer(text, this);
        if (reply !== undefined) setTimeout(() => this.serverSend(reply), 1);
      }

      close() {
        if (this.readyState >= 2) return;
        this.readyState = 3;
        this.closedByClient = true;
        setTimeout(() => this.onclose?.({ code: 1005 }), 1);
      }

      serverSend(text) {
        if (this.readyState === 1) this.onmessage?.({ data: text });
      }

      serverClose(code) {
        if (this.readyState >= 2) return;
        this.readyState = 3;
        this.onclose?.({ code });
      }
    };
  }
}
