// varno-sim's event stream (GET /api/events), read once for every tab of the
// panel. A browser opens at most 6 connections to one host, and each stream
// holds one for as long as it lasts: so the tabs share one stream through a
// shared worker running this file. Where shared workers are missing, a tab
// loads this file as a script and reads a stream of its own.
//
// What a tab is given are batches: {link, epoch, state, calls, skipped}.
// `link` is "connecting", "live" or "gone"; `epoch` counts the streams that
// came up, so that a tab sees when it is talking to a new varno-sim (its
// journal numbers start again); `state` is the newest state; `calls` the
// host's calls ({n, call}) since the last batch; `skipped` how many calls the
// stream left out because the host was faster than it.
'use strict';

// A stream that failed is opened again after this long, for ever.
const kRetryMs = 1000;
// varno-sim sends a state at least every second; this long without one and
// it is taken as gone (a stopped process, a cut cable), though no error came.
const kSilenceMs = 3000;
// Events that arrive together (one message of varno-sim's) go out as one
// batch.
const kBatchMs = 10;

function openPanelStream(deliver) {
  let source = null;
  let retry = 0;
  let link = 'connecting';
  let epoch = 0;
  let state = null;
  let heard = 0;
  let batch = null;

  const queue = (fill) => {
    if (!batch) {
      batch = { calls: [], skipped: 0 };
      setTimeout(() => {
        const ready = batch;
        batch = null;
        deliver(ready);
      }, kBatchMs);
    }
    fill(batch);
  };
  const setLink = (now) => {
    if (now === link) return;
    link = now;
    if (now === 'live') epoch += 1;
    queue((b) => {
      b.link = link;
      b.epoch = epoch;
    });
  };
  const again = () => {
    if (retry) return;
    source.close();
    setLink('gone');
    retry = setTimeout(() => {
      retry = 0;
      connect();
    }, kRetryMs);
  };
  const connect = () => {
    source = new EventSource('/api/events');
    source.addEventListener('state', (e) => {
      heard = Date.now();
      state = JSON.parse(e.data);
      setLink('live');
      queue((b) => {
        b.state = state;
      });
    });
    source.addEventListener('call', (e) => {
      const call = JSON.parse(e.data);
      queue((b) => b.calls.push(call));
    });
    source.addEventListener('skipped', (e) => {
      const count = JSON.parse(e.data).calls;
      queue((b) => {
        b.skipped += count;
      });
    });
    // EventSource would try again by itself, but not after every kind of
    // failure (an answer that is not a stream ends it): this always does.
    source.onerror = again;
  };
  setInterval(() => {
    if (link === 'live' && Date.now() - heard > kSilenceMs) again();
  }, 1000);
  connect();
  return { latest: () => ({ link, epoch, state, calls: [], skipped: 0 }) };
}

// As a shared worker: one stream, every tab's port fed from it. A tab says
// "bye" as it goes and "hello" when the browser brings it back from its
// cache, so that closed tabs are not written to for ever.
if (typeof SharedWorkerGlobalScope !== 'undefined' && self instanceof SharedWorkerGlobalScope) {
  const ports = new Set();
  const stream = openPanelStream((batch) => {
    for (const port of ports) port.postMessage(batch);
  });
  self.onconnect = (e) => {
    const port = e.ports[0];
    const join = () => {
      ports.add(port);
      port.postMessage(stream.latest());
    };
    port.onmessage = (m) => {
      if (m.data === 'bye') ports.delete(port);
      if (m.data === 'hello') join();
    };
    join();
  };
}
