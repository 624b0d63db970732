// The task pane: the removals as the Ribbon groups them, each with the inputs its dialog
// takes, the dialog's question and preview line, Run with progress and Stop, and Undo; and
// the character inspector over the active cell.
// Every list and text comes from the engine (operations(), its messages); the Excel side
// (src/excel/) does the reading and writing.

import type { ExcelSide, RunRequest } from "../addin-types.js";
import { loadEngine } from "../engine.js";
import type { InputKind, OperationInfo, QmvEngine, RunInputs } from "../engine-types.js";
import { connectExcel } from "../excel/excel-side.js";

function element<T extends HTMLElement>(id: string): T {
  const found = document.getElementById(id);
  if (!found) throw new Error(`the page has no #${id}`);
  return found as T;
}

/** The boxes each kind of input shows. */
const BOXES: Record<InputKind, string[]> = {
  none: [],
  characters: ["characters"],
  startPosition: ["startPosition"],
  startAndCount: ["startPosition", "charCount"],
  count: ["charCount"],
  text: ["text", "matchCase"],
  delimiters: ["delimiters"],
  pattern: ["pattern", "matchCase"],
};

class Pane {
  private readonly form = element<HTMLFormElement>("form");
  private readonly removal = element<HTMLSelectElement>("removal");
  private readonly question = element<HTMLParagraphElement>("question");
  private readonly preview = element<HTMLParagraphElement>("preview");
  private readonly message = element<HTMLParagraphElement>("message");
  private readonly run = element<HTMLButtonElement>("run");
  private readonly stop = element<HTMLButtonElement>("stop");
  private readonly undo = element<HTMLButtonElement>("undo");
  private readonly progress = element<HTMLDivElement>("progress");
  private readonly bar = element<HTMLProgressElement>("bar");
  private readonly percent = element<HTMLSpanElement>("percent");
  private readonly inspect = element<HTMLButtonElement>("inspect");
  private readonly inspection = element<HTMLUListElement>("inspection");
  private readonly operations: Map<string, OperationInfo>;
  private stopRequested = false;
  private busy = false;
  private previewTimer: number | undefined;
  private previewSerial = 0;

  constructor(
    private readonly engine: QmvEngine,
    private readonly excel: ExcelSide,
  ) {
    this.operations = new Map(engine.operations().map((op) => [op.code, op]));
    this.fillRemovals();
    this.undo.hidden = excel.undoByExcel;
    element("undoNote").hidden = !excel.undoByExcel;
    this.removal.addEventListener("change", () => this.showInputs());
    this.form.addEventListener("input", (event) => {
      if (event.target !== this.removal) this.schedulePreview();
    });
    this.form.addEventListener("submit", (event) => {
      event.preventDefault();
      void this.runRemoval();
    });
    this.stop.addEventListener("click", () => this.requestStop());
    this.undo.addEventListener("click", () => void this.undoRun());
    this.inspect.hidden = !excel.canInspect;
    this.inspect.addEventListener("click", () => void this.inspectCell());
    document.addEventListener("keydown", (event) => {
      if (event.key === "Escape" && this.busy) this.requestStop();
    });
    this.showInputs();
  }

  /** The removals grouped as on the Ribbon, in its order. */
  private fillRemovals(): void {
    const groups = new Map<string, HTMLOptGroupElement>();
    for (const op of this.operations.values()) {
      const label = op.group || "Other";
      let group = groups.get(label);
      if (!group) {
        group = document.createElement("optgroup");
        group.label = label;
        groups.set(label, group);
        this.removal.append(group);
      }
      const option = document.createElement("option");
      option.value = op.code;
      // The list is as narrow as the pane (320 pixels): the words every caption shares go,
      // and the full caption stands, wrapped, below the list.
      option.textContent = shortCaption(op.caption);
      option.title = op.caption;
      group.append(option);
    }
  }

  private current(): OperationInfo {
    const op = this.operations.get(this.removal.value);
    if (!op) throw new Error(`no removal ${this.removal.value}`);
    return op;
  }

  private showInputs(): void {
    const op = this.current();
    element("caption").textContent = op.caption;
    this.question.textContent = op.question;
    // Match case opens as the dialog opens it: ticked for a pattern, not for a text.
    if (op.inputs === "pattern" || op.inputs === "text") element<HTMLInputElement>("matchCase").checked = op.inputs === "pattern";
    const shown = new Set(BOXES[op.inputs]);
    if (op.startsAtSeparator) shown.add("separator");
    if (op.unicodeOption) shown.add("unicode");
    for (const field of document.querySelectorAll<HTMLElement>("[data-input]")) {
      field.hidden = !shown.has(field.dataset.input ?? "");
    }
    this.message.textContent = "";
    this.schedulePreview();
  }

  private value(id: string): string {
    return element<HTMLInputElement>(id).value;
  }

  private checked(id: string): boolean {
    return element<HTMLInputElement>(id).checked;
  }

  request(): RunRequest {
    const op = this.current();
    const inputs: RunInputs = {};
    const boxes = BOXES[op.inputs];
    if (boxes.includes("startPosition")) inputs.startPosition = this.value("startPosition");
    if (boxes.includes("charCount")) inputs.charCount = this.value("charCount");
    if (boxes.includes("characters")) inputs.characters = this.value("characters");
    if (boxes.includes("text")) inputs.text = this.value("text");
    if (boxes.includes("pattern")) inputs.pattern = this.value("pattern");
    if (boxes.includes("matchCase")) inputs.matchCase = this.checked("matchCase");
    if (boxes.includes("delimiters")) {
      inputs.opening = this.value("opening");
      inputs.closing = this.value("closing");
    }
    if (op.unicodeOption) inputs.unicode = this.checked("unicode");
    if (op.startsAtSeparator && this.value("separator") !== "") {
      inputs.separator = this.value("separator");
      const which = element<HTMLSelectElement>("occurrence").value;
      inputs.occurrence = which === "nth" ? Number.parseInt(this.value("nth"), 10) || 1 : (which as "first" | "last");
    }
    return { code: op.code, inputs };
  }

  private schedulePreview(): void {
    window.clearTimeout(this.previewTimer);
    this.previewTimer = window.setTimeout(() => void this.showPreview(), 250);
  }

  private async showPreview(): Promise<void> {
    if (this.busy) return;
    const serial = ++this.previewSerial;
    const request = this.request();
    const fault = this.engine.checkInputs(request.code, request.inputs);
    if (fault !== null) {
      this.preview.textContent = fault;
      return;
    }
    try {
      const outcome = await this.excel.preview(request);
      if (serial !== this.previewSerial) return; // a later preview is under way
      this.preview.textContent = "line" in outcome ? outcome.line : outcome.refusal;
    } catch (fault) {
      if (serial === this.previewSerial) this.preview.textContent = "";
      console.warn("preview", fault);
    }
  }

  private setBusy(busy: boolean): void {
    this.busy = busy;
    document.getElementById("app")?.setAttribute("aria-busy", String(busy));
    for (const control of this.form.querySelectorAll<HTMLInputElement | HTMLSelectElement>("input, select")) {
      control.disabled = busy;
    }
    this.run.hidden = busy;
    this.stop.hidden = !busy;
    this.progress.hidden = !busy;
    this.undo.disabled = busy || !this.excel.canUndo();
    this.inspect.disabled = busy;
    if (busy) this.stop.focus();
  }

  private requestStop(): void {
    this.stopRequested = true;
    this.stop.disabled = true;
  }

  private async runRemoval(): Promise<void> {
    if (this.busy) return;
    const request = this.request();
    const fault = this.engine.checkInputs(request.code, request.inputs);
    if (fault !== null) {
      this.message.textContent = fault;
      return;
    }
    this.message.textContent = "";
    this.stopRequested = false;
    this.stop.disabled = false;
    this.bar.value = 0;
    this.percent.textContent = "0 %";
    this.setBusy(true);
    try {
      const outcome = await this.excel.run(request, {
        onProgress: (progress) => {
          this.bar.value = progress.percent;
          this.percent.textContent = `${Math.floor(progress.percent)} %`;
        },
        stopRequested: () => this.stopRequested,
      });
      this.message.textContent = outcome.message ?? "";
    } catch (fault) {
      this.message.textContent = fault instanceof Error ? fault.message : String(fault);
    } finally {
      this.setBusy(false);
      this.run.focus();
      this.schedulePreview();
    }
  }

  /** The active cell's invisible and non-ASCII characters, each with the removal that takes
   *  it out. */
  private async inspectCell(): Promise<void> {
    if (this.busy) return;
    try {
      const cell = await this.excel.activeCell();
      const items = this.engine.inspect(cell.text).map((line) => {
        const item = document.createElement("li");
        item.textContent = line;
        return item;
      });
      this.inspection.setAttribute("aria-label", `Characters of ${cell.address}`);
      this.inspection.replaceChildren(...items);
      this.inspection.hidden = false;
    } catch (fault) {
      this.inspection.hidden = true;
      this.message.textContent = fault instanceof Error ? fault.message : String(fault);
    }
  }

  private async undoRun(): Promise<void> {
    if (this.busy) return;
    this.setBusy(true);
    try {
      const { message } = await this.excel.undo();
      this.message.textContent = message ?? "";
    } catch (fault) {
      this.message.textContent = fault instanceof Error ? fault.message : String(fault);
    } finally {
      this.setBusy(false);
      this.schedulePreview();
    }
  }
}

/** A caption as the pane's list shows it: without the "Remove" every caption starts with
 *  nor the "in Selection" most end with. */
export function shortCaption(caption: string): string {
  const short = caption.replace(/^Remove\s+/i, "").replace(/\s+in Selection$/i, "").replace(/^all\s+/i, "");
  return short.charAt(0).toUpperCase() + short.slice(1);
}

/** Office's theme where the host tells it; the system's light or dark otherwise (CSS). */
function followOfficeTheme(): void {
  const theme = Office.context?.officeTheme;
  if (!theme) return;
  const style = document.documentElement.style;
  style.setProperty("--body-bg", theme.bodyBackgroundColor);
  style.setProperty("--body-fg", theme.bodyForegroundColor);
  style.setProperty("--control-bg", theme.controlBackgroundColor);
  style.setProperty("--control-fg", theme.controlForegroundColor);
}

async function start(): Promise<void> {
  const loading = element<HTMLParagraphElement>("loading");
  try {
    await Office.onReady();
    followOfficeTheme();
    const engine = await loadEngine();
    const excel = await connectExcel(engine);
    const pane = new Pane(engine, excel);
    loading.hidden = true;
    element("form").hidden = false;
    document.getElementById("app")?.setAttribute("aria-busy", "false");
    // Left on window for the page's own tests, which hold the pane to the engine's rule.
    Object.assign(window, { qmvPane: pane, qmvEngine: engine });
  } catch (fault) {
    loading.textContent = `Vandrel QMV could not start: ${fault instanceof Error ? fault.message : String(fault)}`;
  }
}

void start();
