// The dashboard's behaviour: keep the page's content current from the
// emulator's change feed, and send the control buttons' requests. Content
// is re-read as whole HTML from the emulator, which escapes every value.
"use strict";

(function () {
  const body = document.body;
  const live = document.getElementById("live");
  const notice = document.getElementById("notice");
  const requestId = body.dataset.requestId || "";

  function setLive(state, text) {
    live.dataset.state = state;
    live.textContent = text;
  }

  function say(text) {
    notice.textContent = text;
  }

  // Re-reads this page and swaps in its content; at most one read at a time,
  // and one more when changes came during it.
  let reading = false;
  let again = false;
  async function refresh() {
    if (reading) {
      again = true;
      return;
    }
    reading = true;
    try {
      do {
        again = false;
        const answer = await fetch(location.href, { cache: "no-store" });
        const text = await answer.text();
        const next = new DOMParser().parseFromString(text, "text/html");
        const content = next.getElementById("content");
        if (content) document.getElementById("content").replaceChildren(...content.childNodes);
      } while (again);
    } catch (error) {
      setLive("offline", "offline");
    } finally {
      reading = false;
    }
  }

  // The emulator answers each batch of events as one response and the browser
  // reconnects at once, so a single error is routine; several in a row, with
  // no event between them, mean the emulator is gone.
  function follow() {
    const feed = new EventSource("/dashboard/events?after=" + encodeURIComponent(body.dataset.feed || ""));
    let failures = 0;
    const heard = () => {
      failures = 0;
      setLive("live", "live");
    };
    setLive("live", "live");
    feed.onopen = heard;
    feed.onerror = () => {
      failures += 1;
      if (feed.readyState === EventSource.CLOSED) setLive("offline", "stopped");
      else if (failures >= 3) setLive("offline", "reconnecting");
    };
    feed.addEventListener("change", (event) => {
      heard();
      let change = {};
      try {
        change = JSON.parse(event.data);
      } catch (error) {
        return;
      }
      if (!requestId || change.id === requestId) refresh();
    });
    feed.addEventListener("reset", () => {
      heard();
      refresh();
    });
  }

  async function post(url, payload, method) {
    const options = { method: method || "POST" };
    if (payload !== undefined) {
      options.headers = { "Content-Type": "application/json" };
      options.body = JSON.stringify(payload);
    }
    const answer = await fetch(url, options);
    if (answer.ok) return null;
    let message = "HTTP " + answer.status;
    try {
      message = (await answer.json()).message || message;
    } catch (error) {
      // Not JSON: the status says enough.
    }
    return message;
  }

  document.addEventListener("click", async (event) => {
    const button = event.target.closest("button");
    if (!button) return;
    if (button.dataset.post) {
      const failure = await post(button.dataset.post);
      say(failure ? "Failed: " + failure : button.dataset.done || "Done.");
    } else if (button.dataset.fault) {
      const failure = await post("/_control/faults", JSON.parse(button.dataset.fault));
      say(failure ? "Failed: " + failure : "Armed for the next request: " + button.textContent + ".");
    } else if (button.dataset.clearFaults) {
      const failure = await post("/_control/faults", undefined, "DELETE");
      say(failure ? "Failed: " + failure : "Faults cleared.");
    } else if (button.dataset.decide && requestId) {
      button.disabled = true;
      const failure = await post("/_control/estimator/" + button.dataset.decide, { id: requestId });
      say(failure ? "Failed: " + failure : "Decided: " + button.textContent.toLowerCase() + ".");
      refresh();
    }
  });

  follow();
})();
