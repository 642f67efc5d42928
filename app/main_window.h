// The main window (class "OrvaneMain"): makes its children and routes every
// message, timer and command to the file that owns the work. UI thread only;
// other threads reach it by posted messages.
//
// The application is built in floors. A file includes headers of its own
// floor or below, never above:
//   5  startup         wWinMain: the order in which everything comes and goes
//   4  main_window     routes every message; commands (the dispatch of every
//                      command id), main_events (timers, the engine's and
//                      other processes' messages), shutdown (the exits)
//   3  features        ribbon, info_bars, search_box, results_list,
//                      row_painting, row_icon_cache, result_actions, export,
//                      tray, index_status, diagnostics, icon_loader,
//                      single_instance, and update/
//   2  engine_host     the one door to the engine and the index lock
//   1  ground          window_kit, settings (the store), activity_log
//   0  rules, numbers  command_ids.h, command_line, layout, result_text,
//                      setting_rules, folder_lists, help_texts, action_rules,
//                      export_format, res/
// Inside the feature floor arrows run one way: row_icon_cache is below
// icon_loader, which is below results_list, which is below search_box,
// row_painting and result_actions.
// A feature never calls the dispatch: it asks for a command with RunCommand
// (WM_COMMAND to this window), as a button would.
//
// Process-wide state: every global is written by one file only, named where
// it is declared (window_kit.h for the windows' handles); the others read it
// or ask that file. gSettings changes only through StoreSetting.
#pragma once

#include <windows.h>

#include "app/window_kit.h"

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
