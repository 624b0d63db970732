// A strict fake of OfficeRuntime.storage, the shared runtime's key-value storage, as
// Microsoft's page "OfficeRuntime.Storage interface" (office-runtime) documents it.
export class FakeRuntimeStorage {
  // "Storage limit is 10 MB per domain, which may be shared by multiple add-ins." The page
  // says neither how it counts nor what a write past it does: the fake counts every key and
  // value as UTF-16 (two bytes a unit) against 10,000,000 bytes, the smaller reading, and
  // rejects the write, leaving what was kept (the harder and the safer behaviour).
  static readonly LIMIT_BYTES = 10_000_000;
  readonly items = new Map<string, string>();
  /** Bytes taken by other add-ins of the same domain, which share the limit. */
  othersBytes = 0;

  // getItem(key: string): Promise<string | null>: "Key of item to be retrieved. Must be a
  // string."
  getItem(key: string): Promise<string | null> {
    if (typeof key !== "string") return Promise.reject(new Error("the key must be a string"));
    return Promise.resolve(this.items.get(key) ?? null);
  }

  // setItem(key: string, value: string): Promise<void>: both must be strings (the typings
  // take no other value; the fake rejects one rather than turn it into a string).
  setItem(key: string, value: string): Promise<void> {
    if (typeof key !== "string" || typeof value !== "string") {
      return Promise.reject(new Error("the key and the value must be strings"));
    }
    const old = this.items.get(key);
    const bytes = this.bytes() - (old === undefined ? 0 : 2 * (key.length + old.length)) + 2 * (key.length + value.length);
    if (bytes > FakeRuntimeStorage.LIMIT_BYTES) {
      return Promise.reject(new Error("the storage limit of 10 MB is reached"));
    }
    this.items.set(key, value);
    return Promise.resolve();
  }

  removeItem(key: string): Promise<void> {
    this.items.delete(key);
    return Promise.resolve();
  }

  getKeys(): Promise<string[]> {
    return Promise.resolve([...this.items.keys()]);
  }

  private bytes(): number {
    let total = this.othersBytes;
    for (const [key, value] of this.items) total += 2 * (key.length + value.length);
    return total;
  }
}
