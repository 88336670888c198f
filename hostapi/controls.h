#pragma once

#include <cstdint>
#include <string>

#include "platform/event.h"
#include "platform/ref.h"
#include "platform/variant.h"

// The panel's controls, by role: only what the plug-in calls. Every method
// may raise platform::Error. Events are raised by the host on its UI thread.
namespace hostapi {

class Control : public platform::Unknown {};

class TextBox : public Control {
 public:
  virtual std::wstring Text() = 0;
};

class Button : public Control {
 public:
  // Carries the control's id.
  platform::Event<int32_t> Accepted;
};

class Label : public Control {
 public:
  virtual std::wstring Text() = 0;
  virtual void SetText(const std::wstring& text) = 0;
};

class CheckBox : public Control {
 public:
  // True when ticked (the platform's -1).
  virtual bool Checked() = 0;
};

// Rows of cells; a cell is addressed by column, row and sub-value, from 0.
// Reading a cell never set gives an empty Variant. Reading, inserting past
// the row count, or deleting a row that does not exist raises
// kErrInvalidArgument.
class List : public Control {
 public:
  virtual void Clear() = 0;
  virtual void InsertRow(int32_t row) = 0;
  virtual void DeleteRow(int32_t row) = 0;
  virtual void SetCell(int32_t column, int32_t row, int32_t sub_value,
                       const platform::Variant& value) = 0;
  virtual platform::Variant Cell(int32_t column, int32_t row, int32_t sub_value) = 0;

  // Carries the control's id, the column and the row of the clicked cell.
  platform::Event<int32_t, int32_t, int32_t> Change;
};

}  // namespace hostapi
