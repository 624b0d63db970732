// The user's saved recipes, kept across workbooks in the storage Office documents for
// add-ins: OfficeRuntime.storage where the add-in runs in a shared runtime (SharedRuntime
// 1.1), else the browser's localStorage, partitioned by Office.context.partitionKey
// ("Persist add-in state and settings"). Where the browser blocks storage, recipes live as
// long as the pane.
//
// Offers: RecipeStore (list, save, remove), openRecipeStore().
// Edge cases: the recipes are one string value under one key (OfficeRuntime.storage keeps
// strings only); a stored value that is not a list of recipe documents reads as none, and is
// replaced at the next save; a recipe saved under a name already kept replaces it.

import type { RecipeDocument } from "../engine-types.js";

/** The part of OfficeRuntime.storage the pane uses (office-runtime's typings). */
interface AsyncStorage {
  getItem(key: string): Promise<string | null>;
  setItem(key: string, value: string): Promise<void>;
}

const KEY = "VandrelQMV.recipes";

/** Where the recipes are kept. */
export type StorageKind = "officeRuntime" | "localStorage" | "pane";

export class RecipeStore {
  private memory: string | null = null;

  constructor(
    readonly kind: StorageKind,
    private readonly runtime: AsyncStorage | null,
    private readonly key: string,
  ) {}

  async list(): Promise<RecipeDocument[]> {
    const text = await this.read();
    if (text === null) return [];
    try {
      const parsed: unknown = JSON.parse(text);
      return Array.isArray(parsed) ? (parsed.filter((r) => r !== null && typeof r === "object" && Array.isArray((r as RecipeDocument).steps)) as RecipeDocument[]) : [];
    } catch {
      return [];
    }
  }

  /** Keeps the recipe, replacing one of the same name; throws when the storage refuses it
   *  (full). */
  async save(recipe: RecipeDocument): Promise<void> {
    const kept = (await this.list()).filter((r) => (r.name ?? "") !== (recipe.name ?? ""));
    kept.push(recipe);
    kept.sort((a, b) => (a.name ?? "").localeCompare(b.name ?? ""));
    await this.write(JSON.stringify(kept));
  }

  async remove(name: string): Promise<void> {
    await this.write(JSON.stringify((await this.list()).filter((r) => (r.name ?? "") !== name)));
  }

  private async read(): Promise<string | null> {
    if (this.runtime) return this.runtime.getItem(this.key);
    if (this.kind === "localStorage") return window.localStorage.getItem(this.key);
    return this.memory;
  }

  private async write(text: string): Promise<void> {
    if (this.runtime) return this.runtime.setItem(this.key, text);
    if (this.kind === "localStorage") return window.localStorage.setItem(this.key, text);
    this.memory = text;
  }
}

/** The store Office documents for this host: OfficeRuntime.storage in a shared runtime,
 *  else localStorage where the browser allows it (tested first, as the page asks). */
export function openRecipeStore(): RecipeStore {
  const runtime = (globalThis as { OfficeRuntime?: { storage?: AsyncStorage } }).OfficeRuntime?.storage;
  if (runtime && Office.context.requirements.isSetSupported("SharedRuntime", "1.1")) {
    return new RecipeStore("officeRuntime", runtime, KEY);
  }
  // Partitioned storage keeps the recipes to this add-in where the host partitions; the key
  // is undefined where it does not (Windows' browser control).
  const partition = Office.context.partitionKey;
  const key = partition ? `${partition}${KEY}` : KEY;
  try {
    const probe = `${key}.probe`;
    window.localStorage.setItem(probe, "1");
    window.localStorage.removeItem(probe);
    return new RecipeStore("localStorage", null, key);
  } catch {
    return new RecipeStore("pane", null, key);
  }
}
