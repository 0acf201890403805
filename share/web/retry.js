"use strict";

// A link the program refused or lost is tried again after 1 s, then twice as long each time up
// to 30 s, and from 1 s again once the program sent something.
const kFirstRetryMs = 1000;
const kLastRetryMs = 30000;

class Retry {
    constructor(start) {
        this.start = start;
        this.delay = kFirstRetryMs;
        this.timer = 0;
    }

    succeeded() {
        this.delay = kFirstRetryMs;
    }

    schedule() {
        if (this.timer)
            return;
        this.timer = setTimeout(() => {
            this.timer = 0;
            this.start();
        }, this.delay);
        this.delay = Math.min(2 * this.delay, kLastRetryMs);
    }
}
