// What the Excel side of the add-in (src/excel/) offers the task pane (src/taskpane/).
//
// Call order: connectExcel(engine) once Office is ready; then, per user action, preview(),
// run() or undo(); one at a time (the pane disables its buttons while one is under way).

import type { RunInputs } from "./engine-types.js";

export interface RunRequest {
  code: string;
  inputs: RunInputs;
}

export interface RunProgress {
  done: number; // cells done
  total: number; // cells to do
  percent: number; // 0..100, as the label shows it
}

export interface RunControl {
  onProgress(progress: RunProgress): void;
  /** Asked between chunks: true stops the run after the cells already done. */
  stopRequested(): boolean;
}

export interface RunOutcome {
  kind: "done" | "stopped" | "refused" | "failed";
  changed: number; // cells written (cleared, for a value removal)
  /** What the pane tells the user, if anything (a refusal, a failure, cells a pattern gave up on). */
  message?: string;
}

export type PreviewOutcome = { line: string } | { refusal: string };

export interface ExcelSide {
  preview(request: RunRequest): Promise<PreviewOutcome>;
  run(request: RunRequest, control: RunControl): Promise<RunOutcome>;
  /** True when Excel's own Undo list takes a run as one step (ExcelApi 1.20): the pane then
   *  shows no Undo button of its own and says Control+Z undoes a run. */
  readonly undoByExcel: boolean;
  /** Whether the pane's Undo has a run to undo. */
  canUndo(): boolean;
  /** Undoes the last run from the engine's record; the message to show, if any. */
  undo(): Promise<{ message: string | null }>;
  /** Whether the host has the active cell (ExcelApi 1.7), which the character inspector reads. */
  readonly canInspect: boolean;
  /** The active cell's address and its text ("" for a number, a Boolean or an empty cell,
   *  which hold no characters of their own). */
  activeCell(): Promise<{ address: string; text: string }>;
}
