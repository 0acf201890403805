"use strict";

// What every graphic of the pack shares: the values of the line, from the program's event
// stream and from the host's update(), put into the page's parts by their data attributes.
//
// [data-part="P" data-field="F"] shows the field named by the address's P=, F by default.
// [data-part="P" data-column="C"] shows column C (or the address's P=) of the row of the table
// the address names with table= and row= (the body's data-table and data-row by default).
// [data-list="stats"] shows the columns the address lists in stats= (its data-columns by
// default), [data-list="fields"] every field the address lists in fields= (all by default).
// Team colours come from home_color= and away_color=. Text goes in as text, never as markup.
const params = new URLSearchParams(location.search);
// Line values by field name, table cells as TABLE.ROW.COLUMN (rows from 1), and the labels.
const values = {};
const labels = {};
let fieldOrder = [];
let lastEvent = {};
let removed = false;
let stream = null;

function param(name, fallback) {
    const value = params.get(name);
    return value === null || value === "" ? fallback : value;
}

function tableRow() {
    const table = param("table", document.body.dataset.table);
    return `${table}.${param("row", document.body.dataset.row || "1")}`;
}

function keyOf(element) {
    const part = element.dataset.part;
    if (element.dataset.column !== undefined)
        return `${tableRow()}.${param(part, element.dataset.column)}`;
    return param(part, element.dataset.field);
}

function textOf(key) {
    const value = values[key];
    return value === undefined ? "" : String(value);
}

function item(label, value) {
    const span = document.createElement("span");
    span.className = "item";
    const name = document.createElement("span");
    name.className = "label";
    name.textContent = label;
    const text = document.createElement("span");
    text.className = "value";
    text.textContent = value;
    span.append(name, text);
    return span;
}

function listNames(list) {
    const named = param(list.dataset.list, list.dataset.columns || "");
    const names = named.split(",").map((n) => n.trim()).filter((n) => n);
    return names.length || list.dataset.list !== "fields" ? names : fieldOrder;
}

function renderList(list) {
    const names = listNames(list);
    const items = list.dataset.list === "fields"
        ? names.map((name) => item(labels[name] ?? name, textOf(name)))
        : names.map((column) => item(column.replace(/_/g, " ").toUpperCase(),
                                     textOf(`${tableRow()}.${column}`)));
    list.replaceChildren(...items);
    // A ticker scrolls its items twice over, so that the end runs into the start.
    if (list.dataset.list === "fields")
        list.append(...items.map((e) => e.cloneNode(true)));
}

function render() {
    for (const element of document.querySelectorAll("[data-part]"))
        element.textContent = textOf(keyOf(element));
    for (const list of document.querySelectorAll("[data-list]"))
        renderList(list);
}

// Only a colour: a name or #hex, so the address cannot slip anything else into the style.
function setColours() {
    for (const [name, property] of [["home_color", "--home"], ["away_color", "--away"]]) {
        const colour = param(name, "");
        if (/^#?[0-9a-f]{3,8}$/i.test(colour))
            document.body.style.setProperty(property,
                                            colour.startsWith("#") ? colour : `#${colour}`);
        else if (/^[a-z]+$/i.test(colour))
            document.body.style.setProperty(property, colour);
    }
}

// The line's values of one event. Only those that changed since the last event are taken, so a
// value the host set stays until the line changes it.
function takeEvent(data) {
    const now = {};
    for (const [name, value] of Object.entries(data.fields || {}))
        now[name] = String(value);
    for (const [name, rows] of Object.entries(data.tables || {}))
        if (Array.isArray(rows))
            rows.forEach((row, i) => {
                for (const [column, value] of Object.entries(row || {}))
                    now[`${name}.${i + 1}.${column}`] = String(value);
            });
    for (const [key, value] of Object.entries(now))
        if (lastEvent[key] !== value)
            values[key] = value;
    lastEvent = now;
    fieldOrder = Object.keys(data.fields || {});
    Object.assign(labels, data.labels || {});
    if (data.time !== undefined)
        document.body.dataset.time = String(data.time);
    render();
}

// The event stream of the program that served the page, or of server= for a page opened from a
// file; code= and delay= go with it.
function streamUrl() {
    const server = param("server", location.protocol.startsWith("http") ? location.origin : "");
    if (!server)
        return "";
    const query = new URLSearchParams();
    for (const name of ["code", "delay"])
        if (params.has(name))
            query.set(name, params.get(name));
    return `${server.replace(/\/+$/, "")}/fields/events?${query}`;
}

// A browser gives up for good on a stream the program refused: retrying is done here, and the
// values on screen stay as they are meanwhile.
const streamRetry = new Retry(listen);

function listen() {
    const url = streamUrl();
    if (removed || !url)
        return;
    if (stream)
        stream.close();
    stream = new EventSource(url);
    stream.onmessage = (event) => {
        streamRetry.succeeded();
        document.body.classList.remove("offline");
        takeEvent(JSON.parse(event.data));
    };
    stream.onerror = () => {
        stream.close();
        stream = null;
        document.body.classList.add("offline");
        streamRetry.schedule();
    };
}

// CasparCG's templateData: <templateData><componentData id="K"><data id="text" value="V"/>.
function parseXml(text) {
    const doc = new DOMParser().parseFromString(text, "application/xml");
    const data = {};
    for (const component of doc.querySelectorAll("componentData")) {
        const value = component.querySelector("data");
        if (component.id && value)
            data[component.id] = value.getAttribute("value") ?? "";
    }
    return data;
}

function parseData(data) {
    if (typeof data !== "string")
        return data && typeof data === "object" ? data : {};
    const text = data.trim();
    if (text.startsWith("<"))
        return parseXml(text);
    try {
        const parsed = JSON.parse(text);
        return parsed && typeof parsed === "object" ? parsed : {};
    } catch {
        return {};
    }
}

// What a template loaded from a file cannot have in its address: where the stream is.
const kStreamKeys = ["server", "code", "delay"];

// The host's values, keyed by a part's name (home, clock...) or by a field's name; server,
// code and delay (re)connect the stream. A host such as SPX sends every one of its fields, the
// empty ones too: those leave the line's values as they are.
function update(data) {
    const parts = new Map(
        [...document.querySelectorAll("[data-part]")].map((e) => [e.dataset.part, e]));
    let reconnect = false;
    for (const [key, value] of Object.entries(parseData(data))) {
        const part = parts.get(key);
        if (value === null || value === undefined || String(value) === "")
            continue;
        if (kStreamKeys.includes(key)) {
            params.set(key, String(value));
            reconnect = true;
        } else {
            values[part ? keyOf(part) : key] = String(value);
        }
    }
    render();
    if (reconnect && !removed) {
        if (stream)
            stream.close();
        listen();
    }
}

function play() {
    document.body.classList.add("on");
}

function stop() {
    document.body.classList.remove("on");
}

function next() {
    // A ticker starts its run again; the others have a single step.
    for (const list of document.querySelectorAll("[data-list='fields']")) {
        list.style.animation = "none";
        void list.offsetWidth;
        list.style.animation = "";
    }
}

function remove() {
    stop();
    removed = true;
    if (stream)
        stream.close();
}

window.update = update;
window.play = play;
window.stop = stop;
window.next = next;
window.remove = remove;

// OBS shows the graphic while its source is on air; a page opened from a file is a CasparCG or
// SPX template, which waits for play(); any other page shows at once.
window.addEventListener("obsSourceActiveChanged", (event) => {
    if (event.detail && event.detail.active)
        play();
    else
        stop();
});
setColours();
render();
if (location.protocol !== "file:")
    play();
listen();
