/*
 * The page's side of the worker (worker.js): jobs go to it, answers come
 * back tagged with their job's id, and only the latest job's answers are
 * passed on.
 *
 * Input never waits on a search: a new job is posted at once. The worker
 * takes it up at the next stage boundary of the job it is on; when it does
 * not even start the new job within ACK_MS (it is deep in one long search
 * that nobody wants any more), it is terminated and a fresh worker, kept
 * loaded beside it, takes over with the text and the job. Esc does the same
 * for the running job without a new one. A search that nobody superseded
 * is never cut short: its step budget bounds it.
 */

const ACK_MS = 120;

export class Engine {
    /* onAnswer(message) gets the latest job's answers; onState(state, detail)
     * is told 'ready', 'busy', 'idle', 'replaced' and 'fatal'. */
    constructor(onAnswer, onState) {
        this.onAnswer = onAnswer;
        this.onState = onState;
        this.textVersion = 0;
        this.text = '';
        this.nextId = 1;
        this.latest = 0; /* the id of the latest run job */
        this.running = false; /* the worker is on a job that has not said 'done' */
        this.ackTimer = 0;
        this.features = null;
        this.worker = this.spawn();
        this.spare = this.spawn();
        this.sentText = -1; /* the text version the current worker has */
    }

    spawn() {
        const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
        worker.loaded = false;
        worker.onmessage = (event) => this.received(worker, event.data);
        worker.onerror = (event) => {
            event.preventDefault();
            if (worker === this.worker) this.replace(`the worker stopped: ${event.message || 'an error'}`);
        };
        return worker;
    }

    received(worker, message) {
        if (message.type === 'ready') {
            worker.loaded = true;
            if (this.features === null) {
                this.features = message.features;
                this.onState('ready', message.features);
            }
            return;
        }
        if (message.type === 'fatal') {
            this.onState('fatal', message.message);
            return;
        }
        if (worker !== this.worker) return;
        if (message.type === 'generated') {
            this.onAnswer(message);
            return;
        }
        if (message.id !== this.latest) return;
        if (message.type === 'start') clearTimeout(this.ackTimer);
        if (message.type === 'done') {
            this.running = false;
            this.onState('idle');
        }
        this.onAnswer(message);
    }

    setText(text) {
        this.text = text;
        this.textVersion++;
    }

    /* Posts the text when the worker does not have it yet. */
    syncText() {
        if (this.sentText === this.textVersion) return;
        this.worker.postMessage({ type: 'text', version: this.textVersion, text: this.text });
        this.sentText = this.textVersion;
    }

    /* Runs a job {pattern, replacement, tests} on the current text. */
    run(job) {
        const wasRunning = this.running;
        this.latest = this.nextId++;
        this.syncText();
        this.worker.postMessage({ type: 'run', id: this.latest, textVersion: this.textVersion, ...job });
        this.running = true;
        this.onState('busy');
        clearTimeout(this.ackTimer);
        if (wasRunning) {
            const id = this.latest;
            this.ackTimer = setTimeout(() => {
                if (this.latest === id && this.running) this.replace(null, job);
            }, ACK_MS);
        }
        return this.latest;
    }

    generate(examples) {
        this.worker.postMessage({ type: 'generate', id: this.nextId++, examples });
    }

    /* Esc: stops the running job by replacing its worker. */
    cancel() {
        if (!this.running) return false;
        this.latest = this.nextId++;
        this.replace(null, null);
        this.running = false;
        this.onState('idle', 'cancelled');
        return true;
    }

    /* Terminates the worker and puts the spare in its place, with the text
     * and the job (if any) sent again. */
    replace(reason, job) {
        clearTimeout(this.ackTimer);
        this.worker.terminate();
        this.worker = this.spare;
        this.spare = this.spawn();
        this.sentText = -1;
        this.onState('replaced', reason);
        if (job) {
            this.syncText();
            this.worker.postMessage({ type: 'run', id: this.latest, textVersion: this.textVersion, ...job });
        } else {
            this.running = false;
        }
    }
}
