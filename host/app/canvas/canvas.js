// The canvas page of `loomwork run --serve`: the running diagram's faces, ports and wires, the
// latest value on each wire, the Monitor lines, a property panel and the edits (move, wire,
// delete, add, save). Everything comes from the run's own HTTP routes; nothing is kept here that
// the run does not know, so a reload shows the same diagram.
(function () {
  "use strict";

  const SVG = "http://www.w3.org/2000/svg";
  const LOG_LINES = 1000;        // Monitor lines kept in the log; older ones drop off the top
  const FACE_SPACING_MS = 200;   // at most 5 face reloads a second per module: each is drawn
                                 // on the run's own thread
  const DRAG_START_PX = 3;       // a press that moves less than this is a click
  const NEW_W = 120, NEW_H = 80; // a new module's size unless its ports need more room
  const MAX_CANVAS = 16384;       // pixels, as the diagram picture
  const CANVAS_MARGIN = 24;      // as #canvas's margin in canvas.css: room for the ids above

  const token = new URLSearchParams(location.search).get("token");

  const el = (id) => document.getElementById(id);
  const scroller = el("scroller");
  const canvas = el("canvas");
  const wiresSvg = el("wires");
  const modulesDiv = el("modules");
  const overlay = el("overlay");
  const labelsDiv = el("labels");
  const bubble = el("canvas-error");
  const form = el("panel-form");
  const logDiv = el("log");

  let diagram = { modules: [], links: [] };
  let classes = new Map();  // class name -> its description from /api/classes
  let ports = {};           // module id -> {inputs, outputs} with points and areas
  const portsAt = new Map(); // module id -> [x, y] of its rect when the ports were had
  const values = new Map(); // "id:output" -> the latest {value, more} the run sent
  let selected = null;      // {kind: "module", id} or {kind: "wire", from, to}
  let drag = null;          // a module being moved or a wire being drawn
  let panelFor = null;      // the module id whose properties the panel shows

  // --- requests -------------------------------------------------------------------------------

  function withToken(path) {
    if (!token) return path;
    return path + (path.includes("?") ? "&" : "?") + "token=" + encodeURIComponent(token);
  }

  function modulePath(id, rest) {
    return "/api/modules/" + encodeURIComponent(id) + (rest || "");
  }

  // Resolves to {ok, status, text}; a network failure is an answer too, with status 0.
  async function request(method, path, body) {
    const init = { method: method, headers: {} };
    if (body !== undefined) {
      init.headers["Content-Type"] = "application/json";
      init.body = JSON.stringify(body);
    }
    try {
      const r = await fetch(withToken(path), init);
      const text = await r.text();
      return { ok: r.ok, status: r.status, text: text };
    } catch (e) {
      return { ok: false, status: 0, text: "the run does not answer (" + e.message + ")" };
    }
  }

  async function getJson(path) {
    const r = await request("GET", path);
    if (!r.ok) throw new Error(path + ": " + (r.text || r.status));
    return JSON.parse(r.text);
  }

  // An edit answers with the new diagram or with the command line's one-line error. Edits go
  // one at a time, so the run applies them in the order they were made (two requests in flight
  // may reach it the other way round).
  let editChain = Promise.resolve();

  function edit(method, path, body) {
    const result = editChain.then(() => sendEdit(method, path, body));
    editChain = result.catch(() => {});
    return result;
  }

  async function sendEdit(method, path, body) {
    const r = await request(method, path, body);
    if (r.ok) {
      try {
        applyDiagram(JSON.parse(r.text));
      } catch (e) {
        /* an answer that is not a diagram: the refresh below fetches it */
      }
      refresh();
      return null;
    }
    return errorText(r);
  }

  function errorText(r) {
    const t = (r.text || "").trim();
    if (t) return t.split("\n")[0];
    return r.status === 403 ? "refused: this page has no valid token" : "failed (HTTP " + r.status + ")";
  }

  // --- the diagram ----------------------------------------------------------------------------

  let refreshing = false, refreshAgain = false;

  // Fetches the diagram and the ports again; calls that arrive meanwhile make one more round.
  async function refresh() {
    if (refreshing) {
      refreshAgain = true;
      return;
    }
    refreshing = true;
    try {
      do {
        refreshAgain = false;
        // The diagram is shown even when its ports cannot be had (wires then meet the sides).
        const [d, p] = await Promise.allSettled([getJson("/api/diagram"), getJson("/api/ports")]);
        if (d.status === "rejected") throw d.reason;
        ports = p.status === "fulfilled" && p.value && typeof p.value === "object" ? p.value : {};
        if (p.status === "rejected") say(p.reason.message, "error");
        portsAt.clear();
        for (const m of Array.isArray(d.value.modules) ? d.value.modules : [])
          if (m && Array.isArray(m.rect)) portsAt.set(m.id, m.rect.slice(0, 2));
        applyDiagram(d.value);
      } while (refreshAgain);
    } catch (e) {
      say(e.message, "error");
    } finally {
      refreshing = false;
    }
  }

  function applyDiagram(d) {
    if (!d || !Array.isArray(d.modules)) return;
    // Only what can be drawn: a module with an id and four numbers for its place.
    const modules = d.modules.filter((m) => m && typeof m.id === "string");
    for (const m of modules) {
      const r = m.rect;
      if (!Array.isArray(r) || r.length !== 4 || !r.every((v) => Number.isFinite(v)))
        m.rect = [0, 0, 100, 60];
    }
    const links = (Array.isArray(d.links) ? d.links : []).filter(
      (l) => l && typeof l.from === "string" && typeof l.to === "string");
    diagram = { modules: modules, links: links };
    // A module that went away takes its values along; one added under its id starts afresh.
    const ids = new Set(diagram.modules.map((m) => m.id));
    for (const key of values.keys()) if (!ids.has(splitEnd(key)[0])) values.delete(key);
    if (selected && selected.kind === "module" && !findModule(selected.id)) select(null);
    if (selected && selected.kind === "wire" && !findLink(selected.from, selected.to)) select(null);
    render();
    if (panelFor !== null) {
      if (!findModule(panelFor)) showPanel(null);
      else if (!form.contains(document.activeElement)) showPanel(panelFor);
    }
  }

  function findModule(id) {
    return diagram.modules.find((m) => m.id === id) || null;
  }

  function findLink(from, to) {
    return diagram.links.find((l) => l.from === from && l.to === to) || null;
  }

  function rectOf(m) {
    const r = m.rect;
    if (drag && drag.kind === "module" && drag.id === m.id && drag.moved)
      return [drag.x, drag.y, r[2], r[3]];
    return r;
  }

  // "id:3" -> ["id", 3]; ids may hold colons themselves, the output number follows the last one.
  function splitEnd(end) {
    const i = String(end).lastIndexOf(":");
    return i < 0 ? [String(end), 0] : [end.slice(0, i), Number(end.slice(i + 1))];
  }

  // A port's link point in canvas coordinates, following a module that is being dragged.
  function portPoint(id, dir, n) {
    const m = findModule(id);
    if (!m) return null;
    const r = rectOf(m);
    const list = ports[id] && ports[id][dir];
    const port = list && list.find((p) => p.index === n);
    const at = portsAt.get(id);
    if (!port || !Array.isArray(port.point) || !at) {
      // Not known yet: the middle of the module's side.
      return [dir === "outputs" ? r[0] + r[2] : r[0], r[1] + r[3] / 2];
    }
    // The ports were had for the module where it stood then; a move carries them along.
    return [port.point[0] + r[0] - at[0], port.point[1] + r[1] - at[1]];
  }

  function render() {
    renderModules();
    renderWires();
    renderPorts();
    renderLabels();
    sizeCanvas();
    el("diagram-name").textContent =
      plural(diagram.modules.length, "module") + " \u00b7 " + plural(diagram.links.length, "wire");
    document.body.dataset.ready = "1";
  }

  function plural(n, word) {
    return n + " " + word + (n === 1 ? "" : "s");
  }

  function sizeCanvas() {
    let w = 0, h = 0;
    for (const m of diagram.modules) {
      const r = rectOf(m);
      w = Math.max(w, r[0] + r[2]);
      h = Math.max(h, r[1] + r[3]);
    }
    // The canvas keeps a margin inside the scroller; it fills the rest without scrolling, and
    // stops where the run's own pictures stop.
    w = Math.min(MAX_CANVAS, Math.max(w + 80, scroller.clientWidth - 2 * CANVAS_MARGIN));
    h = Math.min(MAX_CANVAS, Math.max(h + 60, scroller.clientHeight - 2 * CANVAS_MARGIN));
    canvas.style.width = w + "px";
    canvas.style.height = h + "px";
    for (const svg of [wiresSvg, overlay]) {
      svg.setAttribute("width", w);
      svg.setAttribute("height", h);
    }
  }

  const moduleEls = new Map();

  function renderModules() {
    const seen = new Set();
    for (const m of diagram.modules) {
      seen.add(m.id);
      let div = moduleEls.get(m.id);
      if (!div) {
        div = document.createElement("div");
        div.className = "module";
        div.dataset.id = m.id;
        const img = document.createElement("img");
        img.alt = m.id;
        img.draggable = false;
        const name = document.createElement("span");
        name.className = "id";
        name.textContent = m.id;
        div.append(img, name);
        div.addEventListener("pointerdown", (e) => modulePointerDown(e, m.id));
        modulesDiv.appendChild(div);
        moduleEls.set(m.id, div);
      }
      div.dataset.class = m.class;
      div.title = m.id + " (" + m.class + ")";
      const r = rectOf(m);
      const size = r[2] + "x" + r[3];
      div.style.left = r[0] + "px";
      div.style.top = r[1] + "px";
      div.style.width = r[2] + "px";
      div.style.height = r[3] + "px";
      div.classList.toggle("selected", !!(selected && selected.kind === "module" && selected.id === m.id));
      // A new size draws a new face; a move keeps it.
      if (div.dataset.size !== size) {
        div.dataset.size = size;
        reloadFace(m.id);
      }
    }
    for (const [id, div] of moduleEls) {
      if (!seen.has(id)) {
        div.remove();
        moduleEls.delete(id);
        faces.delete(id);
      }
    }
  }

  // Faces: fetched as blobs so that the old picture stays up until the new one is complete, one
  // fetch at a time per module; repaints that come meanwhile make one more fetch.
  const faces = new Map(); // id -> {busy, again, last, url}

  function reloadFace(id) {
    let f = faces.get(id);
    if (!f) {
      f = { busy: false, again: false, last: 0, url: null };
      faces.set(id, f);
    }
    if (f.busy) {
      f.again = true;
      return;
    }
    f.busy = true;
    const wait = Math.max(0, f.last + FACE_SPACING_MS - Date.now());
    setTimeout(() => fetchFace(id, f), wait);
  }

  async function fetchFace(id, f) {
    f.last = Date.now();
    f.again = false;
    if (streamDown) {
      // Nobody to ask; the stream's return draws every face again.
      f.busy = false;
      return;
    }
    try {
      const r = await fetch(withToken(modulePath(id, "/face.png")), { cache: "no-store" });
      if (r.ok) {
        const blob = await r.blob();
        const div = moduleEls.get(id);
        if (div && faces.get(id) === f) {
          const img = div.querySelector("img");
          const url = URL.createObjectURL(blob);
          const old = f.url;
          f.url = url;
          img.onload = () => {
            if (old) URL.revokeObjectURL(old);
          };
          img.src = url;
        }
      }
    } catch (e) {
      /* the run has ended; the old face stays */
    }
    f.busy = false;
    if (f.again && faces.get(id) === f) reloadFace(id);
  }

  function svgEl(name, attrs) {
    const e = document.createElementNS(SVG, name);
    for (const k in attrs) e.setAttribute(k, attrs[k]);
    return e;
  }

  function linkKey(l) {
    return l.from + ">" + l.to;
  }

  // Wires and ports keep their elements from one drawing to the next (found by their ends), so
  // that a pointer on one is not lost when the diagram is drawn again.
  const wireEls = new Map(); // link key -> its <g>

  function renderWires() {
    const seen = new Set();
    for (const l of diagram.links) {
      const [fid, fn] = splitEnd(l.from);
      const [tid, tn] = splitEnd(l.to);
      const a = portPoint(fid, "outputs", fn);
      const b = portPoint(tid, "inputs", tn);
      if (!a || !b) continue;
      const key = linkKey(l);
      seen.add(key);
      let g = wireEls.get(key);
      if (!g) {
        g = svgEl("g", { class: "wire" });
        g.dataset.from = l.from;
        g.dataset.to = l.to;
        g.append(svgEl("line", { class: "shown" }), svgEl("line", { class: "hit" }));
        const title = svgEl("title", {});
        title.textContent = l.from + " \u2192 " + l.to;
        g.appendChild(title);
        g.addEventListener("pointerdown", (e) => {
          if (e.button !== 0) return;
          e.stopPropagation();
          select({ kind: "wire", from: l.from, to: l.to });
          scroller.focus({ preventScroll: true });
        });
        wiresSvg.appendChild(g);
        wireEls.set(key, g);
      }
      g.classList.toggle("selected", !!(selected && selected.kind === "wire" && selected.from === l.from && selected.to === l.to));
      for (const line of g.querySelectorAll("line")) {
        line.setAttribute("x1", a[0]);
        line.setAttribute("y1", a[1]);
        line.setAttribute("x2", b[0]);
        line.setAttribute("y2", b[1]);
      }
    }
    for (const [key, g] of wireEls) {
      if (!seen.has(key)) {
        g.remove();
        wireEls.delete(key);
      }
    }
  }

  const portEls = new Map(); // "inputs id:n" or "outputs id:n" -> its <rect>

  function renderPorts() {
    const seen = new Set();
    for (const m of diagram.modules) {
      const p = ports[m.id];
      if (!p) continue;
      for (const dir of ["inputs", "outputs"]) {
        for (const port of p[dir] || []) {
          if (!Array.isArray(port.area)) continue;
          let [x, y, w, h] = port.area;
          const pt = portPoint(m.id, dir, port.index);
          if (pt && Array.isArray(port.point)) {
            x += pt[0] - port.point[0];
            y += pt[1] - port.point[1];
          }
          const end = m.id + ":" + port.index;
          const key = dir + " " + end;
          seen.add(key);
          let r = portEls.get(key);
          if (!r) {
            r = svgEl("rect", {});
            r.classList.add("port", dir === "inputs" ? "input" : "output");
            r.dataset.port = end;
            r.dataset.dir = dir;
            r.appendChild(svgEl("title", {}));
            r.addEventListener("pointerdown", (e) => portPointerDown(e, m.id, dir, port.index));
            overlay.appendChild(r);
            portEls.set(key, r);
          }
          r.setAttribute("x", x);
          r.setAttribute("y", y);
          r.setAttribute("width", Math.max(w, 1));
          r.setAttribute("height", Math.max(h, 1));
          r.firstChild.textContent =
            m.id + (dir === "inputs" ? " input " : " output ") + port.index + ": " + port.tag + " (" + port.type + ")";
        }
      }
    }
    for (const [key, r] of portEls) {
      if (!seen.has(key)) {
        r.remove();
        portEls.delete(key);
      }
    }
  }

  const labelEls = new Map(); // link key -> its value label

  // Where a wire's value goes: its middle, or else the first place along it that keeps clear of
  // the labels placed so far and of the faces (wires that fan out of neighbouring ports would
  // stack their labels). Placed with a nominal size, so changing values never move a label.
  const LABEL_W = 40, LABEL_H = 15;
  const LABEL_SPOTS = [0.5, 0.38, 0.62, 0.28, 0.72, 0.2, 0.8, 0.12, 0.88];

  function overlapsBox(a, b) {
    return a[0] < b[0] + b[2] && b[0] < a[0] + a[2] && a[1] < b[1] + b[3] && b[1] < a[1] + a[3];
  }

  function labelPlace(a, b, taken, faces) {
    const spots = LABEL_SPOTS.map((t) => {
      const x = a[0] + (b[0] - a[0]) * t, y = a[1] + (b[1] - a[1]) * t;
      return { x: x, y: y, box: [x - LABEL_W / 2, y - LABEL_H / 2, LABEL_W, LABEL_H] };
    });
    const free = (s) => !taken.some((o) => overlapsBox(s.box, o));
    const spot = spots.find((s) => free(s) && !faces.some((f) => overlapsBox(s.box, f))) || spots.find(free) || spots[0];
    taken.push(spot.box);
    return spot;
  }

  function renderLabels() {
    const seen = new Set();
    const taken = [];
    const faces = diagram.modules.map(rectOf);
    for (const l of diagram.links) {
      const key = linkKey(l);
      const [fid, fn] = splitEnd(l.from);
      const [tid, tn] = splitEnd(l.to);
      const a = portPoint(fid, "outputs", fn);
      const b = portPoint(tid, "inputs", tn);
      if (!a || !b) continue;
      seen.add(key);
      let lab = labelEls.get(key);
      if (!lab) {
        lab = document.createElement("div");
        lab.className = "value";
        lab.dataset.wire = key;
        lab.dataset.from = l.from;
        labelsDiv.appendChild(lab);
        labelEls.set(key, lab);
      }
      const at = labelPlace(a, b, taken, faces);
      lab.style.left = at.x + "px";
      lab.style.top = at.y + "px";
      setLabelText(lab, shownValue(l.from));
    }
    for (const [key, lab] of labelEls) {
      if (!seen.has(key)) {
        lab.remove();
        labelEls.delete(key);
      }
    }
  }

  function setLabelText(lab, text) {
    lab.hidden = text === undefined;
    if (text !== undefined && lab.textContent !== text) {
      lab.textContent = text;
      lab.title = text;
    }
  }

  // --- values, Monitor lines, repaints --------------------------------------------------------

  // A value as the T lines write it: a number, a text as a JSON string literal, bytes as 0x and
  // hex pairs. The run sends texts as themselves and bytes already written out, so the output's
  // type tells the two apart. A value the run cut short says how much is missing.
  function valueText(id, n, sent) {
    if (!sent) return undefined;
    const v = sent.value;
    let text;
    if (typeof v === "number") text = String(v);
    else if (typeof v === "string") text = outputType(id, n) === "bytes" ? v : JSON.stringify(v);
    else text = JSON.stringify(v);
    if (sent.more > 0) text += " \u2026 " + sent.more + " more bytes";
    return text;
  }

  function outputType(id, n) {
    const list = ports[id] && ports[id].outputs;
    const port = list && list.find((p) => p.index === n);
    if (port) return port.type;
    return "";
  }

  function shownValue(end) {
    const [id, n] = splitEnd(end);
    return valueText(id, n, values.get(end));
  }

  const dirtyOutputs = new Set();
  let pendingLog = [];
  let frameQueued = false;

  function queueFrame() {
    if (frameQueued) return;
    frameQueued = true;
    // A frame when the page is shown; a timer when it is hidden, so values never wait long.
    const run = () => {
      if (!frameQueued) return;
      frameQueued = false;
      flush();
    };
    requestAnimationFrame(run);
    setTimeout(run, 100);
  }

  function flush() {
    for (const [key, lab] of labelEls) {
      if (dirtyOutputs.has(lab.dataset.from)) setLabelText(lab, shownValue(lab.dataset.from));
    }
    dirtyOutputs.clear();
    if (pendingLog.length) {
      const frag = document.createDocumentFragment();
      for (const text of pendingLog.slice(-LOG_LINES)) {
        const line = document.createElement("div");
        line.className = "line";
        line.textContent = text;
        frag.appendChild(line);
      }
      logCount += pendingLog.length;
      pendingLog = [];
      logDiv.appendChild(frag);
      while (logDiv.childElementCount > LOG_LINES) logDiv.firstElementChild.remove();
      el("log-count").textContent = logCount === 1 ? "1 line" : logCount + " lines";
      if (followLog) {
        logDiv.scrollTop = logDiv.scrollHeight;
        autoScrollTop = logDiv.scrollTop;
      }
    }
  }

  let logCount = 0;
  // The log follows new lines until the user scrolls up to read, and again once back at the end.
  // Scroll events arrive a frame late: ours (the log put at its end) are told apart by where
  // they left the log, not by whether it is still at the end (the panel above may have grown).
  let followLog = true;
  let autoScrollTop = -1;
  logDiv.addEventListener("scroll", () => {
    if (logDiv.scrollTop === autoScrollTop) return;
    followLog = logDiv.scrollTop + logDiv.clientHeight >= logDiv.scrollHeight - 8;
  });

  function onValue(e) {
    let d;
    try {
      d = JSON.parse(e.data);
    } catch (err) {
      return;
    }
    if (!d || d.module === undefined || d.output === undefined) return;
    const key = d.module + ":" + d.output;
    values.set(key, { value: d.value, more: Number(d.more) || 0 });
    dirtyOutputs.add(key);
    queueFrame();
  }

  function onMonitor(e) {
    pendingLog.push(e.data);
    if (pendingLog.length > LOG_LINES) pendingLog = pendingLog.slice(-LOG_LINES);
    queueFrame();
  }

  function onRepaint(e) {
    try {
      const d = JSON.parse(e.data);
      if (d && moduleEls.has(d.module)) reloadFace(d.module);
    } catch (err) {
      /* not ours */
    }
  }

  function setState(cls, text) {
    const s = el("run-state");
    s.className = "state " + cls;
    s.textContent = text;
  }

  let everOpen = false;
  let streamDown = false; // the run does not answer: faces wait for it

  function listen() {
    const es = new EventSource(withToken("/api/events"));
    es.addEventListener("value", onValue);
    es.addEventListener("monitor", onMonitor);
    es.addEventListener("repaint", onRepaint);
    es.addEventListener("diagram", () => refresh());
    es.onopen = () => {
      // After a lost connection the diagram and the faces may have changed meanwhile.
      if (everOpen) {
        refresh();
        for (const id of moduleEls.keys()) reloadFace(id);
      }
      everOpen = true;
      streamDown = false;
      setState("running", "running");
    };
    es.onerror = () => {
      streamDown = true;
      if (es.readyState === EventSource.CLOSED) setState("ended", "run ended");
      else setState(everOpen ? "ended" : "connecting", everOpen ? "run ended or not reachable" : "connecting");
    };
  }

  // --- selection and the property panel -------------------------------------------------------

  function select(what) {
    selected = what;
    for (const [id, div] of moduleEls)
      div.classList.toggle("selected", !!(what && what.kind === "module" && what.id === id));
    for (const g of wireEls.values())
      g.classList.toggle("selected", !!(what && what.kind === "wire" && what.from === g.dataset.from && what.to === g.dataset.to));
    if (what && what.kind === "module") showPanel(what.id);
    else if (what && what.kind === "wire") showWire(what);
    else showPanel(null);
  }

  function settingOf(cls, name) {
    return (cls && Array.isArray(cls.settings) ? cls.settings : []).find((s) => s.property === name) || null;
  }

  // The current value of a property as the command line writes it, from the module's content.
  function currentText(m, prop, setting) {
    const key = setting && setting.key ? setting.key : prop.name;
    const content = m.content || {};
    let v = Object.prototype.hasOwnProperty.call(content, key) ? content[key] : prop.value;
    if (v && typeof v === "object" && Array.isArray(v.JColor)) v = v.JColor;
    if (prop.kind === "colour" && Array.isArray(v)) return v.join(",");
    if (prop.kind === "choice" && typeof v === "number" && Array.isArray(prop.choices) && v >= 0 && v < prop.choices.length)
      return prop.choices[v];
    if (v === null || v === undefined) return "";
    return typeof v === "string" ? v : String(v);
  }

  function describeKind(prop, setting) {
    const range = setting && setting.range ? setting.range : "";
    if (prop.kind === "integer") {
      const r = range || (prop.minimum !== undefined ? prop.minimum + ".." + prop.maximum : "");
      return "integer" + (r ? " " + r : "");
    }
    if (prop.kind === "choice") return "choice";
    if (prop.kind === "colour") return "colour r,g,b";
    return (setting && setting.path ? "file" : "text");
  }

  function hexOf(text) {
    const parts = text.split(",").map((s) => Number(s.trim()));
    if (parts.length !== 3 || parts.some((n) => !(n >= 0 && n <= 255))) return "#000000";
    return "#" + parts.map((n) => Math.round(n).toString(16).padStart(2, "0")).join("");
  }

  function rgbOf(hex) {
    return [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16)).join(",");
  }

  function showPanel(id) {
    panelFor = id;
    const m = id === null ? null : findModule(id);
    form.textContent = "";
    if (!m) {
      el("panel-title").textContent = "Properties";
      el("panel-hint").hidden = false;
      form.hidden = true;
      return;
    }
    const cls = classes.get(m.class);
    el("panel-title").textContent = m.id;
    el("panel-hint").hidden = true;
    form.hidden = false;
    const meta = document.createElement("div");
    meta.className = "panel-meta";
    const r = m.rect || [];
    meta.innerHTML = "<code></code> at <code></code>";
    meta.children[0].textContent = m.class;
    meta.children[1].textContent = r.join(", ");
    form.appendChild(meta);
    const props = cls && Array.isArray(cls.properties) ? cls.properties : [];
    if (!props.length) {
      const p = document.createElement("p");
      p.className = "hint";
      p.textContent = cls ? "This module has no properties." : "The class " + m.class + " is not loaded.";
      form.appendChild(p);
    }
    for (const prop of props) form.appendChild(propertyRow(m, prop, settingOf(cls, prop.name)));
  }

  function propertyRow(m, prop, setting) {
    const row = document.createElement("div");
    row.className = "prop";
    row.dataset.name = prop.name;
    row.dataset.kind = prop.kind;
    const label = document.createElement("label");
    const name = document.createElement("span");
    name.className = "name";
    name.textContent = prop.name;
    const kind = document.createElement("span");
    kind.className = "kind";
    kind.textContent = describeKind(prop, setting);
    label.append(name, kind);
    row.appendChild(label);
    const text = currentText(m, prop, setting);
    let input;
    if (prop.kind === "choice" && Array.isArray(prop.choices)) {
      input = document.createElement("select");
      for (const c of prop.choices) {
        const o = document.createElement("option");
        o.value = o.textContent = c;
        input.appendChild(o);
      }
      input.value = text;
      input.addEventListener("change", () => applyProperty(m.id, prop, row, input.value));
      row.appendChild(input);
    } else if (prop.kind === "colour") {
      const box = document.createElement("div");
      box.className = "colour";
      const pick = document.createElement("input");
      pick.type = "color";
      pick.value = hexOf(text);
      input = document.createElement("input");
      input.type = "text";
      input.value = text;
      pick.addEventListener("change", () => {
        input.value = rgbOf(pick.value);
        applyProperty(m.id, prop, row, input.value);
      });
      input.addEventListener("change", () => applyProperty(m.id, prop, row, input.value));
      box.append(pick, input);
      row.appendChild(box);
    } else {
      input = document.createElement("input");
      input.type = "text";
      if (prop.kind === "integer") input.inputMode = "numeric";
      input.value = text;
      input.addEventListener("change", () => applyProperty(m.id, prop, row, input.value));
      row.appendChild(input);
    }
    input.name = prop.name;
    input.dataset.sent = text;
    input.addEventListener("keydown", (e) => {
      if (e.key === "Enter") {
        e.preventDefault();
        applyProperty(m.id, prop, row, input.value, true);
      } else if (e.key === "Escape") {
        input.value = input.dataset.sent;
        clearRow(row);
      }
    });
    const err = document.createElement("div");
    err.className = "error";
    err.hidden = true;
    row.appendChild(err);
    return row;
  }

  function clearRow(row) {
    row.classList.remove("invalid", "saved");
    const err = row.querySelector(".error");
    err.hidden = true;
    err.textContent = "";
  }

  // Sends one property as the command line's --set would take it: the value as text.
  let propertySeq = 0;

  // A change event sends only what is new; Enter sends again what was refused (the module's
  // state may have changed meanwhile).
  async function applyProperty(id, prop, row, text, again) {
    const input = row.querySelector("input[name], select[name]");
    if (row.dataset.pending === text) return;
    if (input && input.dataset.sent === text && !row.classList.contains("invalid")) return;
    if (!again && row.dataset.refused === text) return;
    const seq = String(++propertySeq);
    row.dataset.seq = seq;
    row.dataset.pending = text;
    delete row.dataset.refused;
    clearRow(row);
    const body = {};
    body[prop.name] = text;
    const error = await edit("POST", modulePath(id, "/properties"), body);
    if (row.dataset.seq !== seq) return; // a later value was sent meanwhile: its answer shows
    delete row.dataset.pending;
    if (error) {
      row.dataset.refused = text;
      row.classList.add("invalid");
      const err = row.querySelector(".error");
      err.textContent = error;
      err.hidden = false;
      return;
    }
    if (input) input.dataset.sent = text;
    row.classList.add("saved");
    setTimeout(() => row.classList.remove("saved"), 1200);
  }

  function showWire(w) {
    panelFor = null;
    form.textContent = "";
    el("panel-title").textContent = "Wire";
    el("panel-hint").hidden = true;
    form.hidden = false;
    const meta = document.createElement("div");
    meta.className = "panel-meta";
    meta.innerHTML = "<code></code> \u2192 <code></code><br>Press Delete to remove it.";
    meta.children[0].textContent = w.from;
    meta.children[1].textContent = w.to;
    form.appendChild(meta);
  }

  // --- moving modules -------------------------------------------------------------------------

  function canvasPoint(e) {
    const r = canvas.getBoundingClientRect();
    return [e.clientX - r.left, e.clientY - r.top];
  }

  // Keeps the pointer's moves coming while it is held, also when it leaves the window.
  function capture(e) {
    try {
      e.currentTarget.setPointerCapture(e.pointerId);
    } catch (err) {
      /* a pointer the browser no longer tracks: moves over the page still arrive */
    }
  }

  function modulePointerDown(e, id) {
    if (e.button !== 0 || drag) return;
    const m = findModule(id);
    if (!m) return;
    e.preventDefault();
    hideBubble();
    scroller.focus({ preventScroll: true });
    const [px, py] = canvasPoint(e);
    drag = { kind: "module", id: id, startX: px, startY: py, x: m.rect[0], y: m.rect[1], moved: false };
    capture(e);
    select({ kind: "module", id: id });
  }

  function moduleMove(e) {
    const m = findModule(drag.id);
    if (!m) return;
    const [px, py] = canvasPoint(e);
    const dx = px - drag.startX, dy = py - drag.startY;
    if (!drag.moved && Math.abs(dx) < DRAG_START_PX && Math.abs(dy) < DRAG_START_PX) return;
    drag.moved = true;
    drag.x = Math.max(0, Math.round(m.rect[0] + dx));
    drag.y = Math.max(0, Math.round(m.rect[1] + dy));
    const div = moduleEls.get(drag.id);
    if (div) div.classList.add("dragging");
    render();
  }

  async function moduleUp() {
    const d = drag;
    drag = null;
    const div = moduleEls.get(d.id);
    if (div) div.classList.remove("dragging");
    const m = findModule(d.id);
    if (!d.moved || !m) return;
    if (d.x === m.rect[0] && d.y === m.rect[1]) {
      render();
      return;
    }
    // Shown at the new place at once; the run's answer puts it back if it refuses.
    const old = m.rect;
    m.rect = [d.x, d.y, old[2], old[3]];
    render();
    const error = await edit("POST", modulePath(d.id, "/rect"), m.rect);
    if (error) {
      const now = findModule(d.id);
      if (now === m) m.rect = old;
      render();
      showBubble(error, old[0], old[1] + old[3] + 6);
    }
  }

  // --- drawing wires --------------------------------------------------------------------------

  function portPointerDown(e, id, dir, n) {
    if (e.button !== 0 || drag) return;
    e.preventDefault();
    e.stopPropagation();
    hideBubble();
    scroller.focus({ preventScroll: true });
    const start = portPoint(id, dir, n);
    if (!start) return;
    const line = svgEl("line", { class: "drag-wire", x1: start[0], y1: start[1], x2: start[0], y2: start[1] });
    drag = { kind: "wire", id: id, dir: dir, n: n, line: line, target: null };
    overlay.appendChild(line);
    capture(e);
  }

  // The port of the other kind under the pointer, if any.
  function portUnder(e, wantDir) {
    for (const t of document.elementsFromPoint(e.clientX, e.clientY)) {
      if (t.classList && t.classList.contains("port")) return t.dataset.dir === wantDir ? t : null;
    }
    return null;
  }

  function wireMove(e) {
    const [px, py] = canvasPoint(e);
    drag.line.setAttribute("x2", px);
    drag.line.setAttribute("y2", py);
    const t = portUnder(e, drag.dir === "outputs" ? "inputs" : "outputs");
    if (drag.target !== t) {
      if (drag.target) drag.target.classList.remove("target");
      if (t) t.classList.add("target");
      drag.target = t;
    }
  }

  async function wireUp(e) {
    const d = drag;
    drag = null;
    d.line.remove();
    const t = portUnder(e, d.dir === "outputs" ? "inputs" : "outputs");
    if (d.target) d.target.classList.remove("target");
    if (!t) return;
    const here = d.id + ":" + d.n;
    const link = d.dir === "outputs" ? { from: here, to: t.dataset.port } : { from: t.dataset.port, to: here };
    const [px, py] = canvasPoint(e);
    const error = await edit("POST", "/api/links", link);
    if (error) showBubble(error, px + 8, py + 8);
    else select({ kind: "wire", from: link.from, to: link.to });
  }

  document.addEventListener("pointermove", (e) => {
    if (!drag) return;
    if (drag.kind === "module") moduleMove(e);
    else wireMove(e);
  });
  document.addEventListener("pointerup", (e) => {
    if (!drag) return;
    if (drag.kind === "module") moduleUp(e);
    else wireUp(e);
  });
  document.addEventListener("pointercancel", () => {
    if (!drag) return;
    if (drag.kind === "wire") drag.line.remove();
    drag = null;
    render();
  });

  scroller.addEventListener("pointerdown", (e) => {
    if (e.button === 0 && (e.target === scroller || e.target === canvas || e.target === wiresSvg || e.target === labelsDiv)) {
      hideBubble();
      select(null);
    }
  });

  // --- deleting -------------------------------------------------------------------------------

  document.addEventListener("keydown", async (e) => {
    const t = e.target;
    if (t && (t.tagName === "INPUT" || t.tagName === "SELECT" || t.tagName === "TEXTAREA")) return;
    if (e.key === "Escape") {
      select(null);
      hideBubble();
      return;
    }
    if ((e.key !== "Delete" && e.key !== "Backspace") || !selected) return;
    e.preventDefault();
    const what = selected;
    let error, at;
    if (what.kind === "module") {
      const m = findModule(what.id);
      at = m ? [m.rect[0], m.rect[1] + m.rect[3] + 6] : [20, 20];
      error = await edit("DELETE", modulePath(what.id), undefined);
    } else {
      const a = portPoint(splitEnd(what.from)[0], "outputs", splitEnd(what.from)[1]);
      const b = portPoint(splitEnd(what.to)[0], "inputs", splitEnd(what.to)[1]);
      at = a && b ? [(a[0] + b[0]) / 2, (a[1] + b[1]) / 2 + 12] : [20, 20];
      error = await edit("DELETE", "/api/links", { from: what.from, to: what.to });
    }
    if (error) showBubble(error, at[0], at[1]);
    else select(null);
  });

  // --- adding and saving ----------------------------------------------------------------------

  // "JToneDigitObj" -> "toneDigit", then "toneDigit2" and so on until the id is free.
  function freshId(className) {
    let base = className.replace(/^J(?=[A-Z])/, "").replace(/Obj$/, "") || "module";
    base = base.charAt(0).toLowerCase() + base.slice(1);
    const taken = new Set(diagram.modules.map((m) => m.id));
    if (!taken.has(base)) return base;
    for (let i = 2; ; ++i) if (!taken.has(base + i)) return base + i;
  }

  function overlaps(a, b) {
    return a[0] < b[0] + b[2] + 10 && b[0] < a[0] + a[2] + 10 && a[1] < b[1] + b[3] + 10 && b[1] < a[1] + a[3] + 10;
  }

  // A free place in the visible part of the canvas, tall enough for the class's ports.
  function freeRect(cls) {
    const ports = Math.max((cls.inputs || []).length, (cls.outputs || []).length);
    const h = Math.min(400, Math.max(NEW_H, Math.ceil((ports * 10) / 0.8)));
    const x0 = Math.round(scroller.scrollLeft) + 30, y0 = Math.round(scroller.scrollTop) + 30;
    const rects = diagram.modules.map((m) => m.rect);
    for (let row = 0; row < 40; ++row) {
      for (let col = 0; col < 6; ++col) {
        const r = [x0 + col * (NEW_W + 30), y0 + row * 40, NEW_W, h];
        if (!rects.some((o) => overlaps(r, o))) return r;
      }
    }
    return [x0, y0, NEW_W, h];
  }

  el("add-class").addEventListener("change", () => {
    el("add-button").disabled = !classes.has(el("add-class").value);
  });

  el("add-button").addEventListener("click", async () => {
    const name = el("add-class").value;
    const cls = classes.get(name);
    if (!cls) {
      say("choose the class of the new module first", "error");
      return;
    }
    const id = freshId(name);
    const rect = freeRect(cls);
    say("");
    const error = await edit("POST", "/api/modules", { class: name, id: id, rect: rect });
    if (error) {
      say(error, "error");
      return;
    }
    say("added " + id, "ok");
    select({ kind: "module", id: id });
  });

  el("save-button").addEventListener("click", async () => {
    const button = el("save-button");
    button.disabled = true;
    say("saving\u2026");
    const error = await edit("POST", "/api/save", {});
    button.disabled = false;
    if (error) say(error, "error");
    else say("saved " + new Date().toLocaleTimeString(), "ok");
  });

  el("log-clear").addEventListener("click", () => {
    logDiv.textContent = "";
    logCount = 0;
    el("log-count").textContent = "";
  });

  function say(text, kind) {
    const m = el("bar-message");
    m.textContent = text;
    m.title = text;
    m.className = kind || "";
  }

  let bubbleTimer = null;

  function showBubble(text, x, y) {
    bubble.textContent = text;
    bubble.style.left = Math.max(4, x) + "px";
    bubble.style.top = Math.max(4, y) + "px";
    bubble.hidden = false;
    clearTimeout(bubbleTimer);
    bubbleTimer = setTimeout(hideBubble, 8000);
  }

  function hideBubble() {
    bubble.hidden = true;
  }

  window.addEventListener("resize", sizeCanvas);

  // --- start ----------------------------------------------------------------------------------

  async function start() {
    listen();
    try {
      const list = await getJson("/api/classes");
      classes = new Map(list.map((c) => [c.class, c]));
      const select = el("add-class");
      const none = document.createElement("option");
      none.value = "";
      none.textContent = "class to add\u2026";
      none.disabled = none.selected = true;
      select.appendChild(none);
      for (const c of [...classes.keys()].sort()) {
        const o = document.createElement("option");
        o.value = o.textContent = c;
        select.appendChild(o);
      }
    } catch (e) {
      say(e.message, "error");
    }
    await refresh();
  }

  start();
})();
