// The task pane: the removals as the Ribbon groups them, each with the inputs its dialog
// takes, the dialog's question and preview line, Run with progress and Stop, and Undo; and
// the character inspector over the active cell; recipes: steps chosen or run saved under a
// name, the user's recipes run as one run (one preview of the whole chain, one progress, one
// Stop, one Undo), exported and imported as files.
// Every list and text comes from the engine (operations(), its messages); the Excel side
// (src/excel/) does the reading and writing.

import type { ExcelSide, RunRequest } from "../addin-types.js";
import { loadEngine } from "../engine.js";
import type { InputKind, OperationInfo, QmvEngine, RecipeCheck, RecipeDocument, RunInputs } from "../engine-types.js";
import { connectExcel } from "../excel/excel-side.js";
import { openRecipeStore, type RecipeStore } from "./recipe-store.js";

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
  private readonly recipes = new Recipes(this);

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

  /** Starts the recipes' part of the pane (their store is asynchronous). */
  async startRecipes(store: RecipeStore): Promise<void> {
    await this.recipes.start(this.engine, store);
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
    this.recipes.leave();
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
    const recipe = this.recipes.chosen();
    if (recipe) return { code: recipe.code ?? "", inputs: { recipe: recipe.recipe! } };
    return this.chosenStep();
  }

  /** The removal chosen in the list, with its inputs as its dialog takes them. */
  chosenStep(): RunRequest {
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

  /** Shows a recipe in the place of the chosen removal: its name and description, its
   *  question, no inputs, and the preview of the whole chain. */
  showRecipe(check: RecipeCheck): void {
    const doc = check.recipe!;
    element("caption").textContent = [doc.name, doc.description].filter((t) => t).join(": ");
    this.question.textContent = check.question ?? "";
    for (const field of document.querySelectorAll<HTMLElement>("[data-input]")) field.hidden = true;
    this.message.textContent = "";
    this.schedulePreview();
  }

  /** The input boxes of the chosen removal again. */
  showRemoval(): void {
    this.showInputs();
  }

  say(text: string): void {
    this.message.textContent = text;
  }

  get isBusy(): boolean {
    return this.busy;
  }

  schedulePreview(): void {
    window.clearTimeout(this.previewTimer);
    this.previewTimer = window.setTimeout(() => void this.showPreview(), 250);
  }

  private async showPreview(): Promise<void> {
    if (this.busy) return;
    const serial = ++this.previewSerial;
    const request = this.request();
    const fault = this.recipes.chosen()?.message ?? this.engine.checkInputs(request.code, request.inputs);
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
    this.recipes.setBusy(busy);
    if (busy) this.stop.focus();
  }

  private requestStop(): void {
    this.stopRequested = true;
    this.stop.disabled = true;
  }

  async runRemoval(): Promise<void> {
    if (this.busy) return;
    const request = this.request();
    const recipe = this.recipes.chosen();
    // A recipe that cannot be read is refused here, before anything changes.
    const fault = recipe?.message ?? this.engine.checkInputs(request.code, request.inputs);
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
      if (outcome.kind === "done" || outcome.kind === "stopped") this.recipes.ran(recipe ?? null, request);
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

/** A file name of a recipe's name: its letters and digits, "recipe" for none. */
export function recipeFileName(name: string): string {
  const stem = name.normalize("NFKD").replace(/[^\p{L}\p{N}]+/gu, "-").replace(/^-+|-+$/g, "").toLowerCase();
  return `${stem || "recipe"}.json`;
}

/** The recipes' part of the pane. */
class Recipes {
  private readonly chosenList = element<HTMLOListElement>("chosenSteps");
  private readonly addStep = element<HTMLButtonElement>("addStep");
  private readonly clearSteps = element<HTMLButtonElement>("clearSteps");
  private readonly name = element<HTMLInputElement>("recipeName");
  private readonly description = element<HTMLInputElement>("recipeDescription");
  private readonly save = element<HTMLButtonElement>("saveRecipe");
  private readonly saved = element<HTMLSelectElement>("savedRecipe");
  private readonly stepsList = element<HTMLOListElement>("recipeSteps");
  private readonly run = element<HTMLButtonElement>("runRecipe");
  private readonly exportButton = element<HTMLButtonElement>("exportRecipe");
  private readonly remove = element<HTMLButtonElement>("deleteRecipe");
  private readonly importFile = element<HTMLInputElement>("importRecipe");
  private engine!: QmvEngine;
  private store!: RecipeStore;
  /** The steps chosen for a new recipe, as their dialogs took them. */
  private steps: RunRequest[] = [];
  /** What the last run ran: its removal, or its recipe. */
  private last: { step: RunRequest } | { recipe: RecipeDocument } | null = null;
  private kept: RecipeDocument[] = [];
  /** The saved recipe shown in the removal's place, while it is. */
  private shown: RecipeCheck | null = null;

  constructor(private readonly pane: Pane) {}

  async start(engine: QmvEngine, store: RecipeStore): Promise<void> {
    this.engine = engine;
    this.store = store;
    element("storageNote").hidden = store.kind !== "pane";
    this.addStep.addEventListener("click", () => this.add());
    this.clearSteps.addEventListener("click", () => {
      this.steps = [];
      this.showSteps();
    });
    this.save.addEventListener("click", () => void this.saveRecipe());
    // Enter in the name or the description saves: the form's own Enter would run a removal.
    for (const box of [this.name, this.description]) {
      box.addEventListener("keydown", (event) => {
        if (event.key !== "Enter") return;
        event.preventDefault();
        void this.saveRecipe();
      });
    }
    this.saved.addEventListener("change", () => this.choose());
    this.run.addEventListener("click", () => {
      this.choose();
      void this.pane.runRemoval();
    });
    this.exportButton.addEventListener("click", () => this.exportRecipe());
    this.remove.addEventListener("click", () => void this.deleteRecipe());
    this.importFile.addEventListener("change", () => void this.importRecipe());
    await this.reload(null);
    element("recipes").dataset.ready = "true";
  }

  /** The saved recipe shown, when one is. */
  chosen(): RecipeCheck | null {
    return this.shown;
  }

  /** The removal list is chosen again: the recipe makes way for it. */
  leave(): void {
    this.shown = null;
  }

  ran(recipe: RecipeCheck | null, request: RunRequest): void {
    this.last = recipe ? { recipe: recipe.recipe! } : { step: request };
  }

  setBusy(busy: boolean): void {
    for (const button of [this.addStep, this.save, this.importFile]) button.disabled = busy;
    this.clearSteps.disabled = busy || this.steps.length === 0;
    const none = this.saved.value === "";
    for (const button of [this.run, this.exportButton, this.remove]) button.disabled = busy || none;
  }

  private add(): void {
    const step = this.pane.chosenStep();
    // Checked as a recipe of its own: a step a recipe file could not hold is told now.
    const check = this.engine.makeRecipe("", "", [...this.steps, step]);
    if (check.recipe === undefined) {
      this.pane.say(check.message ?? "");
      return;
    }
    this.steps.push(step);
    this.showSteps(check.steps ?? []);
    this.pane.say("");
  }

  private showSteps(lines?: string[]): void {
    const shown = lines ?? (this.steps.length ? this.engine.makeRecipe("", "", this.steps).steps ?? [] : []);
    this.chosenList.replaceChildren(...shown.map((line) => listItem(line.replace(/^\d+\.\s*/, ""))));
    this.clearSteps.disabled = this.steps.length === 0;
  }

  /** Saves the steps chosen, else what the last run ran, under the name given. */
  private async saveRecipe(): Promise<void> {
    const name = this.name.value.trim();
    const description = this.description.value.trim();
    if (name === "") {
      this.pane.say("Give the recipe a name.");
      this.name.focus();
      return;
    }
    let check: RecipeCheck;
    if (this.steps.length > 0) {
      check = this.engine.makeRecipe(name, description, this.steps);
    } else if (this.last && "step" in this.last) {
      check = this.engine.makeRecipe(name, description, [this.last.step]);
    } else if (this.last) {
      check = this.engine.recipe({ ...this.last.recipe, name, description });
    } else {
      this.pane.say("Add a step, or run a removal, then save it as a recipe.");
      return;
    }
    if (check.recipe === undefined) {
      this.pane.say(check.message ?? "");
      return;
    }
    if (await this.keep(check.recipe)) {
      this.steps = [];
      this.showSteps();
      this.pane.say(`Saved the recipe "${name}".`);
    }
  }

  private async keep(recipe: RecipeDocument): Promise<boolean> {
    try {
      await this.store.save(recipe);
    } catch (fault) {
      this.pane.say(`The recipe could not be kept: ${fault instanceof Error ? fault.message : String(fault)}`);
      return false;
    }
    await this.reload(recipe.name ?? "");
    return true;
  }

  private async reload(select: string | null): Promise<void> {
    this.kept = await this.store.list();
    const none = document.createElement("option");
    none.value = "";
    none.textContent = this.kept.length ? "Choose a recipe" : "No recipes yet";
    const options = this.kept.map((recipe, i) => {
      const option = document.createElement("option");
      option.value = String(i);
      option.textContent = recipe.name || "(no name)";
      option.title = recipe.description ?? "";
      return option;
    });
    this.saved.replaceChildren(none, ...options);
    const at = select === null ? -1 : this.kept.findIndex((r) => (r.name ?? "") === select);
    this.saved.value = at < 0 ? "" : String(at);
    this.choose();
  }

  /** The recipe chosen in the list takes the removal's place. */
  private choose(): void {
    const recipe = this.kept[Number.parseInt(this.saved.value, 10)];
    const check = recipe ? this.engine.recipe(recipe) : null;
    this.stepsList.replaceChildren(...(check?.steps ?? []).map((line) => listItem(line.replace(/^\d+\.\s*/, ""))));
    this.setBusy(this.pane.isBusy);
    const wasShown = this.shown !== null;
    this.shown = check?.recipe ? check : null;
    if (this.shown) {
      this.pane.showRecipe(this.shown);
    } else {
      if (check) this.pane.say(check.message ?? "");
      if (wasShown) this.pane.showRemoval();
    }
  }

  /** Downloads the chosen recipe as a file, as every host writes one. */
  private exportRecipe(): void {
    const check = this.shown;
    if (!check?.json) return;
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([check.json], { type: "application/json" }));
    link.download = recipeFileName(check.recipe?.name ?? "");
    document.body.append(link);
    link.click();
    link.remove();
    window.setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  private async deleteRecipe(): Promise<void> {
    const recipe = this.shown?.recipe;
    if (!recipe) return;
    try {
      await this.store.remove(recipe.name ?? "");
    } catch (fault) {
      this.pane.say(fault instanceof Error ? fault.message : String(fault));
      return;
    }
    await this.reload(null);
    this.pane.say(`Deleted the recipe "${recipe.name ?? ""}".`);
  }

  /** A recipe file read as every host reads one; a bad one is told, naming the step and the
   *  field, and nothing is kept. */
  private async importRecipe(): Promise<void> {
    const file = this.importFile.files?.[0];
    this.importFile.value = "";
    if (!file) return;
    const check = this.engine.recipe(await file.text());
    if (check.recipe === undefined) {
      this.pane.say(`${file.name}: ${check.message ?? ""}`);
      return;
    }
    const recipe = { ...check.recipe, name: check.recipe.name || file.name.replace(/\.json$/i, "") };
    if (await this.keep(recipe)) this.pane.say(`Imported the recipe "${recipe.name}".`);
  }
}

function listItem(text: string): HTMLLIElement {
  const item = document.createElement("li");
  item.textContent = text;
  return item;
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
    // The removals serve at once; the saved recipes follow when their storage answers.
    pane.startRecipes(openRecipeStore()).catch((fault: unknown) => {
      pane.say(`Your recipes could not be read: ${fault instanceof Error ? fault.message : String(fault)}`);
    });
    // Left on window for the page's own tests, which hold the pane to the engine's rule.
    Object.assign(window, { qmvPane: pane, qmvEngine: engine });
  } catch (fault) {
    loading.textContent = `Vandrel QMV could not start: ${fault instanceof Error ? fault.message : String(fault)}`;
  }
}

void start();
