#pragma once

#include "host/tui/canvas.h"
#include "host/tui/chat_log.h"
#include "host/tui/panel_controller.h"

namespace host::tui {

// Whether the plug-in waits for the service, and the spinner's step.
struct BusyState {
  bool busy = false;
  int frame = 0;
};

// Where the terminal's cursor goes: in the focused text field, else hidden.
struct CursorSpot {
  bool visible = false;
  int y = 0;
  int x = 0;
};

// Draws the screen as `ui` lays it out into `canvas` (reset to the
// layout's size): the panel's frame with the title and, while busy, the
// spinner and "waiting"; the tabs; the shown page's controls with their
// current contents (a list row's text columns as text, an icon column as a
// small glyph); the chat pane with its input line; the help line. A
// terminal too small for the layout gets a message saying so instead.
// Everything shown from the plug-in or the service is sanitized and cut to
// its place, so nothing drawn spills over its neighbours.
CursorSpot Render(PanelController& ui, ChatLog& chat, const BusyState& busy, Canvas& canvas);

}  // namespace host::tui
