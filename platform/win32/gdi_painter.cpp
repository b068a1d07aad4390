#include "platform/win32/gdi_painter.h"

#include <vector>

#include "app/spectrum_menu.h"
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
    if (line.points.size() < 2) return;
    // A cosmetic pen dots only at one pixel's width; wider dots need a
    // geometric one.
    const LOGBRUSH brush{BS_SOLID, line.pen.colour, 0};
    HPEN pen = line.pen.style == PenStyle::Dot && line.pen.width > 1
                   ? ExtCreatePen(PS_GEOMETRIC | PS_DOT | PS_ENDCAP_FLAT, static_cast<DWORD>(line.pen.width), &brush,
                                  0, nullptr)
                   : CreatePen(line.pen.style == PenStyle::Dot ? PS_DOT : PS_SOLID, line.pen.width, line.pen.colour);
    HGDIOBJ previous = SelectObject(dc, pen);
    // One call for the whole trace: the same lines as a move and a LineTo
    // to each point, each without its end point.
    std::vector<POINT> points(line.points.size());
    for (std::size_t i = 0; i < points.size(); ++i) points[i] = {line.points[i].x, line.points[i].y};
    Polyline(dc, points.data(), static_cast<int>(points.size()));
    SelectObject(dc, previous);
    DeleteObject(pen);
  }

  void operator()(const Bitmap& image) const {
    const int width = image.rect.right - image.rect.left, height = image.rect.bottom - image.rect.top;
    if (image.pixels == nullptr || width <= 0 || height <= 0) return;
    // A top-down 32-bit DIB: the view's rows as they are in memory.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.stride;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    StretchDIBits(dc, image.rect.left, image.rect.top, width, height, image.sourceLeft, 0, width, height, image.pixels,
                  &info, DIB_RGB_COLORS, SRCCOPY);
  }

  void operator()(const Label& label) const {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, label.colour);
    const UINT align =
        SetTextAlign(dc, static_cast<UINT>(label.centred ? TA_CENTER : label.alignRight ? TA_RIGHT : TA_LEFT) | TA_TOP);
    TextOutW(dc, label.at.x, label.at.y, label.text.c_str(), static_cast<int>(label.text.size()));
    if (align != GDI_ERROR) SetTextAlign(dc, align);
  }
};

// An off-screen image of one panel. The primitives are drawn into it and
// reach the screen in one copy: the window never shows a panel half drawn
// (no flicker between the fill and the trace), and under Wine one image
// goes to the X server instead of a request per fill, line and label.
// UI thread only; kept from paint to paint while the panel's size holds.
class PanelImage {
 public:
  PanelImage() = default;
  PanelImage(const PanelImage&) = delete;
  PanelImage& operator=(const PanelImage&) = delete;
  ~PanelImage() { Release(); }

  // A device context whose bitmap covers rect, in rect's coordinates; null
  // when the system has none to give.
  HDC For(HDC screen, const RECT& rect) {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (dc == nullptr || width != imageWidth || height != imageHeight) {
      Release();
      dc = CreateCompatibleDC(screen);
      bitmap = dc != nullptr ? CreateCompatibleBitmap(screen, width, height) : nullptr;
      if (bitmap == nullptr) {
        if (dc != nullptr) DeleteDC(dc);
        dc = nullptr;
        return nullptr;
      }
      original = SelectObject(dc, bitmap);
      originalFont = GetCurrentObject(dc, OBJ_FONT);
      imageWidth = width;
      imageHeight = height;
    }
    // The state the panel's own device context comes with (the control set
    // it up for drawing): dotted lines fill their gaps with its background
    // colour, and labels use its font.
    SetBkMode(dc, GetBkMode(screen));
    SetBkColor(dc, GetBkColor(screen));
    SetTextColor(dc, GetTextColor(screen));
    SelectObject(dc, GetCurrentObject(screen, OBJ_FONT));
    SetViewportOrgEx(dc, -rect.left, -rect.top, nullptr);
    return dc;
  }

  // After each paint the panel's font goes back out of the image: a font
  // still selected into a device context is not deleted, and the window
  // deletes the one it replaces when the DPI changes.
  void ReleaseFont() { SelectObject(dc, originalFont); }

  // A bitmap of its own holding what was drawn last; null if nothing was.
  HBITMAP Copy(HDC screen) const {
    if (dc == nullptr) return nullptr;
    HDC copyDc = CreateCompatibleDC(screen);
    HBITMAP copy = copyDc != nullptr ? CreateCompatibleBitmap(screen, imageWidth, imageHeight) : nullptr;
    if (copy != nullptr) {
      HGDIOBJ previous = SelectObject(copyDc, copy);
      POINT origin{};
      GetViewportOrgEx(dc, &origin);
      BitBlt(copyDc, 0, 0, imageWidth, imageHeight, dc, -origin.x, -origin.y, SRCCOPY);
      SelectObject(copyDc, previous);
    }
    if (copyDc != nullptr) DeleteDC(copyDc);
    return copy;
  }

 private:
  void Release() {
    if (dc == nullptr) return;
    SelectObject(dc, original);
    DeleteObject(bitmap);
    DeleteDC(dc);
    dc = nullptr;
  }

  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ original = nullptr;
  HGDIOBJ originalFont = nullptr;
  int imageWidth = 0;
  int imageHeight = 0;
};

BOOL Paint(PanelImage& image, const DRAWITEMSTRUCT* item, const PanelDrawing& drawing) {
  const RECT& rect = item->rcItem;
  HDC imageDc = image.For(item->hDC, rect);
  // Without an image the panel is drawn on the screen directly.
  HDC dc = imageDc != nullptr ? imageDc : item->hDC;
  for (const Primitive& primitive : drawing.primitives) std::visit(Painter{dc}, primitive);
  if (imageDc != nullptr) {
    BitBlt(item->hDC, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, imageDc, rect.left,
           rect.top, SRCCOPY);
    image.ReleaseFont();
  }
  return drawing.drewData ? TRUE : FALSE;
}

PanelImage levelImage;
PanelImage waveformImage;
PanelImage spectrumImage;

}  // namespace

BOOL DrawLevelPanel(const DRAWITEMSTRUCT* item, int dpi) {
  return Paint(levelImage, item, CurrentLevelPanel(ToPanelRect(item->rcItem), dpi));
}

BOOL DrawWaveformPanel(const DRAWITEMSTRUCT* item, int dpi) {
  return Paint(waveformImage, item, CurrentWaveformPanel(ToPanelRect(item->rcItem), dpi));
}

BOOL DrawSpectrumPanel(const DRAWITEMSTRUCT* item, int dpi) {
  // The labels' room from the panel's own font.
  TEXTMETRICW metrics{};
  TextSize text;
  if (GetTextMetricsW(item->hDC, &metrics)) text = {static_cast<int>(metrics.tmAveCharWidth), static_cast<int>(metrics.tmHeight)};
  return Paint(spectrumImage, item, CurrentSpectrumPanelView(ToPanelRect(item->rcItem), text, dpi));
}

HBITMAP SpectrumPanelPicture(HDC screen) { return spectrumImage.Copy(screen); }
