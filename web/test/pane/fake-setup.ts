// The test page's stand-in for office.js: the strict fake of Excel, installed before the pane
// starts, and left on window for the test to set up cells and read them back; and the
// platform's storage as the page's address asks for it (storage=officeRuntime: a shared
// runtime's OfficeRuntime.storage; storage=blocked: a browser that refuses localStorage;
// partitionKey=KEY: a host that partitions storage).
import { installFakeExcel, type FakeExcelControl } from "../fake-excel/fake-excel.js";
import { FakeRuntimeStorage } from "./fake-storage.js";

const params = new URLSearchParams(window.location.search);
const control: FakeExcelControl = installFakeExcel({ excelApi: params.get("excelApi") ?? "1.20" });
(window as unknown as { qmvFake: FakeExcelControl }).qmvFake = control;

const office = (window as unknown as { Office: { context: Record<string, unknown> & { requirements: { isSetSupported(name: string, version?: string): boolean } } } }).Office;
const partitionKey = params.get("partitionKey");
// Office.context.partitionKey: undefined where the host does not partition storage.
if (partitionKey !== null) office.context.partitionKey = partitionKey;
const storage = params.get("storage");
if (storage === "officeRuntime") {
  // SharedRuntime 1.1 is the set OfficeRuntime.storage belongs to (OfficeRuntime.Storage).
  const excelSets = office.context.requirements.isSetSupported.bind(office.context.requirements);
  office.context.requirements.isSetSupported = (name, version) =>
    name === "SharedRuntime" ? (version ?? "1.1") === "1.1" : excelSets(name, version);
  const fake = new FakeRuntimeStorage();
  (window as unknown as { OfficeRuntime: unknown }).OfficeRuntime = { storage: fake };
  (window as unknown as { qmvStorage: FakeRuntimeStorage }).qmvStorage = fake;
} else if (storage === "blocked") {
  // "Some browsers or the user's browser settings may block browser-based storage
  // techniques" (Persist add-in state and settings): Chromium then throws on any use of
  // localStorage (a SecurityError), which the fake does on reading the property itself.
  Object.defineProperty(window, "localStorage", {
    get() {
      throw new DOMException("Access is denied for this document.", "SecurityError");
    },
  });
}
