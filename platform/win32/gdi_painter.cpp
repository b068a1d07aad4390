#include "platform/win32/gdi_painter.h"

#include "display/panels.h"

namespace {

RECT ToRect(const PanelRect& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }

PanelRect ToPanelRect(const RECT& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }

// Executes each primitive with its own GDI objects, created and deleted here.
struct Painter {
  HDC dc;

  void operator()(const FillBackground& fill) const {
    const RECT rect = ToRect(fill.rect);
    FillRect(dc, &rect, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)));
  }

  void operator()(const FillSolid& fill) const {
    const RECT rect = ToRect(fill.rect);
    HBRUSH brush = CreateSolidBrush(fill.colour);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
  }

  void operator()(const Stroke& line) const {
    if (line.points.empty()) return;
    HPEN pen = CreatePen(line.pen.style == PenStyle::Dot ? PS_DOT : PS_SOLID, line.pen.width,
                         line.pen.colour);
    HGDIOBJ previous = SelectObject(dc, pen);
    MoveToEx(dc, line.points[0].x, line.points[0].y, nullptr);
    for (std::size_t i = 1; i < line.points.size(); ++i) LineTo(dc, line.points[i].x, line.points[i].y);
    SelectObject(dc, previous);
    DeleteObject(pen);
  }

  void operator()(const Label& label) const {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, label.colour);
    TextOutW(dc, label.at.x, label.at.y, label.text.c_str(), static_cast<int>(label.text.size()));
  }
};

BOOL Paint(HDC dc, const PanelDrawing& drawing) {
  for (const Primitive& primitive : drawing.primitives) std::visit(Painter{dc}, primitive);
  return drawing.drewData ? TRUE : FALSE;
}

}  // namespace

BOOL DrawLevelPanel(const DRAWITEMSTRUCT* item) {
  return Paint(item->hDC, CurrentLevelPanel(ToPanelRect(item->rcItem)));
}

BOOL DrawWaveformPanel(const DRAWITEMSTRUCT* item) {
  return Paint(item->hDC, CurrentWaveformPanel(ToPanelRect(item->rcItem)));
}

BOOL DrawSpectrumPanel(const DRAWITEMSTRUCT* item) {
  return Paint(item->hDC, CurrentSpectrumPanel(ToPanelRect(item->rcItem)));
}
