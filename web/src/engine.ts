// DEV STAND-IN, never committed.
import type { QmvEngine, CellIn, CellResult, OperationInfo, UndoRecord, CellWrite, RestoreWrite } from "./engine-types.js";
const ops: OperationInfo[] = ["RNUM", "RALP", "RPAT", "RDPV", "RADP", "RUDP"].map((code) => ({ code, name: code, caption: code, group: "g", meaning: "", question: "", inputs: code === "RPAT" ? "pattern" : "none", kind: code.startsWith("R") && ["RDPV","RADP","RUDP"].includes(code) ? "value" : "character", startsAtSeparator: false, unicodeOption: false }));
function text(c: CellIn): string | null {
  if (typeof c.formula === "string" && c.formula.startsWith("=")) return null;
  if (c.valueType === "Error") return null;
  return String(c.value);
}
function typed(t: string, fmt: string): CellWrite {
  if (fmt === "@") return { kind: "text", value: t };
  if (t === "") return { kind: "empty", value: "" };
  if (/^-?\d+(\.\d+)?$/.test(t)) return { kind: "number", value: Number(t) };
  return { kind: "text", value: t };
}
export async function loadEngine(): Promise<QmvEngine> {
  return {
    operations: () => ops,
    checkInputs: (code, inputs) => { if (code === "RPAT") { try { new RegExp(inputs.pattern ?? ""); } catch { return "The pattern is not valid"; } } return null; },
    ruleOverBlock(code, inputs, _l, cells) {
      const out: CellResult[] = [];
      cells.forEach((c, index) => {
        const t = text(c); if (t === null || c.valueType === "Empty") return;
        const after = code === "RNUM" ? t.replace(/[0-9]/g, "") : code === "RALP" ? t.replace(/[A-Za-z]/g, "") : t.replace(new RegExp(inputs.pattern ?? "", "g"), "");
        if (after !== t) out.push({ index, outcome: "changed", before: t, after, write: typed(after, c.numberFormat) });
      });
      return out;
    },
    valueClears(code, _l, cells) {
      const keys = cells.map((c) => (c.valueType === "Empty" || c.valueType === "Error" ? null : String(c.value).toLowerCase()));
      const counts = new Map<string, number>(); keys.forEach((k) => k !== null && counts.set(k, (counts.get(k) ?? 0) + 1));
      const seen = new Set<string>();
      return keys.map((k) => { if (k === null) return false; if (code === "RADP") return counts.get(k)! > 1; if (code === "RUDP") return counts.get(k) === 1; const r = seen.has(k); seen.add(k); return r; });
    },
    previewLine: (_c, f) => `${f.changes} cells would change`,
    countMessage: (id, n) => `${id} ${n}`,
    message: (id) => ({ emptySelection: "Selection is Empty!", notOneColumn: "Please Select Single Column!", nothingToUndo: "Nothing to Undo!", undoFailed: "Undo Command Failed!" } as Record<string, string>)[id] ?? id,
    newUndoRecord(): UndoRecord {
      const cells: { sheet: string; row: number; column: number; before: CellIn; after: CellWrite | null }[] = [];
      return {
        add: (sheet, row, column, before, after) => { cells.push({ sheet, row, column, before, after }); },
        size: () => cells.length,
        cells: () => cells.map(({ sheet, row, column }) => ({ sheet, row, column })),
        restore(now): (RestoreWrite | null)[] {
          return cells.map((c, i) => {
            const n = now[i]!;
            const same = c.after === null ? n.valueType === "Empty" : String(n.value) === String(c.after.value);
            if (!same) return null;
            const b = c.before;
            const f = typeof b.formula === "string" && b.formula.startsWith("'") ? b.formula : b.valueType === "String" ? "'" + String(b.value) : b.valueType === "Empty" ? "" : String(b.formula);
            return { formula: f, numberFormat: b.numberFormat };
          });
        },
        dispose() {},
      };
    },
  };
}
