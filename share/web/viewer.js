"use strict";

// The live screen, read-only: every update says which rows changed; rows at and past "n" are
// not shown, as in the main window.
const kRows = 42;
const kColumns = 132;
// The program says something at least every 5 s; silence for longer means the link is gone.
const kSilenceMs = 15000;
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

const socketRetry = new Retry(connect);

function connect() {
    const scheme = location.protocol === "https:" ? "wss:" : "ws:";
    socket = new WebSocket(`${scheme}//${location.host}/ws${location.search}`);
    socket.onmessage = (event) => {
        socketRetry.succeeded();
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
    socketRetry.schedule();
}

setInterval(() => {
    if (socket && socket.readyState === WebSocket.OPEN && Date.now() - lastUpdate >= kSilenceMs)
        reconnect();
    showConnection();
}, 1000);

// The fields as cards above the screen, each value in an element [data-field="NAME"] whose text
// is exactly the value, under its label; then each table [data-table="NAME"] under its label,
// sized for a phone rather than the screen's tiny font. Both in the order the program lists
// them; a value off its page is dimmed. No fields defined: no cards.
const cards = document.getElementById("fields");
const tables = document.getElementById("tables");

// The container's children, one per name in that order, each found by its data-KEY or made.
function keepChildren(container, key, names, make) {
    const had = new Map([...container.children].map((e) => [e.dataset[key], e]));
    const children = names.map((name) => had.get(name) || make(name));
    container.replaceChildren(...children);
    container.hidden = children.length === 0;
    return children;
}

function makeCard(name) {
    const card = document.createElement("div");
    card.className = "card";
    card.dataset.card = name;
    const label = document.createElement("div");
    label.className = "name";
    const value = document.createElement("div");
    value.className = "value";
    value.dataset.field = name;
    card.append(label, value);
    return card;
}

function makeTable(name) {
    const table = document.createElement("table");
    table.dataset.table = name;
    table.append(document.createElement("caption"), document.createElement("thead"),
                 document.createElement("tbody"));
    return table;
}

// A long value wraps anywhere so that the table fits a phone; a short one (a number, a time)
// is never broken, or the wrapping would take its columns down to a letter's width. Column names
// longer than an abbreviation may break: a long one ("plus_minus") over a column of short numbers
// would widen the table past a phone.
const kWholeChars = 10;
const kWholeName = 3;

function cellRow(tag, texts) {
    const row = document.createElement("tr");
    for (const text of texts) {
        const cell = document.createElement(tag);
        cell.textContent = text;
        cell.classList.toggle("whole", text.length <= (tag === "td" ? kWholeChars : kWholeName));
        row.appendChild(cell);
    }
    return row;
}

function fillTable(table, rows) {
    const columns = rows.length ? Object.keys(rows[0]) : [];
    table.tHead.replaceChildren(cellRow("th", columns));
    table.tBodies[0].replaceChildren(
        ...rows.map((row) => cellRow("td", columns.map((column) => String(row[column] ?? "")))));
}

function showFields(data) {
    const labels = data.labels || {};
    const current = data.current || {};
    const labelOf = (name) => (typeof labels[name] === "string" ? labels[name] : name);
    const values = data.fields || {};
    for (const card of keepChildren(cards, "card", Object.keys(values), makeCard)) {
        const name = card.dataset.card;
        card.querySelector(".name").textContent = labelOf(name);
        card.querySelector("[data-field]").textContent = values[name];
        card.classList.toggle("stale", current[name] === false);
    }
    const rows = data.tables || {};
    for (const table of keepChildren(tables, "table", Object.keys(rows), makeTable)) {
        const name = table.dataset.table;
        table.caption.textContent = labelOf(name);
        fillTable(table, Array.isArray(rows[name]) ? rows[name] : []);
        table.classList.toggle("stale", current[name] === false);
    }
}

// A browser gives up for good on a stream the program refused (a 503 while it is full), and
// retries a lost one at a pace of its own: both are taken over here. The values shown are dimmed
// while they may be old.
const streamRetry = new Retry(listen);

function listen() {
    const stream = new EventSource(`/fields/events${location.search}`);
    stream.onmessage = (event) => {
        streamRetry.succeeded();
        document.body.classList.remove("fields-offline");
        showFields(JSON.parse(event.data));
    };
    stream.onerror = () => {
        stream.close();
        document.body.classList.add("fields-offline");
        streamRetry.schedule();
    };
}

// The game's story under the cards, when the fields file tells one: its numbers, each in an
// element [data-story="KEY"], and the chart, fetched again whenever they change.
const story = document.getElementById("story");
const storyNumbers = document.getElementById("story-numbers");
const storyChart = document.getElementById("story-chart");
let storyText = "";
// A chart that fails to come leaves the numbers alone.
storyChart.onerror = () => { storyChart.hidden = true; };
storyChart.onload = () => { storyChart.hidden = false; };

function clockOf(at) {
    return at ? `${at.period ? "P" + at.period + " " : ""}${at.clock || at.time.slice(11, 19)}`
              : "";
}

function minutes(seconds) {
    return `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, "0")}`;
}

function showStory(data) {
    const home = data.home.label;
    const visitor = data.visitor.label;
    const run = data.longest_run;
    const lead = (side) => side.largest_lead.points
        ? `${side.label} +${side.largest_lead.points} (${clockOf(side.largest_lead.at)})` : `${side.label} -`;
    const items = [
        ["lead_changes", "Lead changes", String(data.lead_changes)],
        ["times_tied", "Times tied", String(data.times_tied)],
        ["largest_lead", "Largest lead", `${lead(data.home)}, ${lead(data.visitor)}`],
        ["longest_run", "Longest run",
         run.points ? `${run.side === "home" ? home : visitor} ${run.points}-0` : "-"],
        ["time_in_lead", "Time in the lead",
         `${home} ${minutes(data.home.seconds_in_lead)}, ${visitor} ${minutes(data.visitor.seconds_in_lead)}`],
    ];
    storyNumbers.replaceChildren(...items.flatMap(([key, name, text]) => {
        const term = document.createElement("dt");
        term.textContent = name;
        const value = document.createElement("dd");
        value.dataset.story = key;
        value.textContent = text;
        return [term, value];
    }));
    const params = new URLSearchParams(location.search);
    params.set("v", String(data.scores.length) + "-" + String(Date.now()));
    storyChart.src = `/story.svg?${params}`;
    story.hidden = false;
}

async function pollStory() {
    try {
        const response = await fetch(`/story.json${location.search}`, {cache: "no-store"});
        if (!response.ok) {
            story.hidden = true;
            storyText = "";
            return;
        }
        const text = await response.text();
        if (text !== storyText) {
            storyText = text;
            showStory(JSON.parse(text));
        }
    } catch (error) {
        // The connection line says the link is gone; the story stays as it was.
    }
}

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
listen();
pollStory();
setInterval(pollStory, 1000);
