"use strict";

// The live screen, read-only: every update says which rows changed; rows at and past "n" are
// not shown, as in the main window.
const kRows = 42;
const kColumns = 132;
// The program says something at least every 5 s; silence for longer means the link is gone.
const kSilenceMs = 15000;
const kRetryMs = 2000;

const screen = document.getElementById("screen");
const fields = {
    status: document.getElementById("status"),
    label: document.getElementById("label"),
    cursor: document.getElementById("cursor"),
};
const connection = document.getElementById("connection");
const rows = [];
let lastUpdate = 0;
let socket = null;

for (let i = 0; i < kRows; ++i) {
    const row = document.createElement("div");
    row.dataset.row = String(i);
    screen.appendChild(row);
    rows.push(row);
}

function apply(update) {
    if (typeof update.n === "number") {
        for (const [index, text] of Object.entries(update.rows || {})) {
            const row = rows[Number(index)];
            if (row)
                row.textContent = text;
        }
        for (let i = update.n; i < kRows; ++i)
            rows[i].textContent = "";
    }
    for (const name of Object.keys(fields))
        if (typeof update[name] === "string")
            fields[name].textContent = update[name];
}

function age() {
    if (!lastUpdate)
        return "no update yet";
    const seconds = Math.round((Date.now() - lastUpdate) / 1000);
    return seconds < 120 ? `last update ${seconds} s ago`
                         : `last update ${Math.round(seconds / 60)} min ago`;
}

function showConnection() {
    const live = socket && socket.readyState === WebSocket.OPEN &&
                 Date.now() - lastUpdate < kSilenceMs;
    document.body.classList.toggle("offline", !live);
    connection.textContent = live ? "Live" : `Reconnecting... (${age()})`;
}

function connect() {
    const scheme = location.protocol === "https:" ? "wss:" : "ws:";
    socket = new WebSocket(`${scheme}//${location.host}/ws${location.search}`);
    socket.onmessage = (event) => {
        lastUpdate = Date.now();
        apply(JSON.parse(event.data));
        showConnection();
    };
    socket.onclose = reconnect;
}

// A link that went quiet may take minutes to report its end: give it up at once.
function reconnect() {
    if (socket) {
        socket.onclose = null;
        socket.close();
        socket = null;
    }
    showConnection();
    setTimeout(connect, kRetryMs);
}

setInterval(() => {
    if (socket && socket.readyState === WebSocket.OPEN && Date.now() - lastUpdate >= kSilenceMs)
        reconnect();
    showConnection();
}, 1000);

// The fields as cards above the screen, each value in an element [data-field="NAME"] whose text
// is exactly the value; a value off its page is dimmed. No fields defined: no cards.
const cards = document.getElementById("fields");

function showFields(data) {
    const values = data.fields || {};
    const names = Object.keys(values);
    cards.hidden = names.length === 0;
    for (const card of [...cards.children])
        if (!(card.dataset.card in values))
            card.remove();
    for (const name of names) {
        let card = cards.querySelector(`[data-card="${name}"]`);
        if (!card) {
            card = document.createElement("div");
            card.className = "card";
            card.dataset.card = name;
            const label = document.createElement("div");
            label.className = "name";
            label.textContent = name;
            const value = document.createElement("div");
            value.className = "value";
            value.dataset.field = name;
            card.append(label, value);
            cards.appendChild(card);
        }
        card.querySelector("[data-field]").textContent = values[name];
        card.classList.toggle("stale", (data.current || {})[name] === false);
    }
}

new EventSource(`/fields/events${location.search}`).onmessage = (event) =>
    showFields(JSON.parse(event.data));

// The font size at which 132 columns fill the width of the window.
function fitWidth() {
    const probe = document.createElement("span");
    probe.style.fontSize = "100px";
    probe.style.whiteSpace = "pre";
    probe.textContent = "M".repeat(kColumns);
    document.body.appendChild(probe);
    const width = probe.getBoundingClientRect().width;
    probe.remove();
    const room = document.documentElement.clientWidth - 16;
    if (width > 0)
        document.body.style.fontSize = `${Math.max(4, (100 * room) / width)}px`;
}

window.addEventListener("resize", fitWidth);
document.fonts.ready.then(fitWidth);
fitWidth();
connect();
