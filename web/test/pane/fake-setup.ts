// The test page's stand-in for office.js: the strict fake of Excel, installed before the pane
// starts, and left on window for the test to set up cells and read them back.
import { installFakeExcel, type FakeExcelControl } from "../fake-excel/fake-excel.js";

const params = new URLSearchParams(window.location.search);
const control: FakeExcelControl = installFakeExcel({ excelApi: params.get("excelApi") ?? "1.20" });
(window as unknown as { qmvFake: FakeExcelControl }).qmvFake = control;
