#include "ui/container.h"

#include "ui/image.h"

COLORREF ResolveKelColor(COLORREF color) { return color == kKelSystemFaceColor ? GetSysColor(COLOR_BTNFACE) : color; }

namespace {

// Draws bitmap into dc at (x, y) with size (width, height), blending a 32-bit bitmap with its
// per-pixel (premultiplied) alpha.
void DrawBitmap(HDC dc, HDC source, const KelBitmapInfo& info, int x, int y, int width, int height) {
  if (info.hasAlpha) {
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, x, y, width, height, source, 0, 0, info.width, info.height, blend);
  } else if (width == info.width && height == info.height) {
    BitBlt(dc, x, y, width, height, source, 0, 0, SRCCOPY);
  } else {
    int oldMode = SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, x, y, width, height, source, 0, 0, info.width, info.height, SRCCOPY);
    SetStretchBltMode(dc, oldMode);
  }
}

void DrawImage(HDC dc, HBITMAP image, int mode, const RECT& client) {
  KelBitmapInfo info = GetBitmapInfo(image);
  if (info.width <= 0 || info.height <= 0) return;
  UniqueDc source(CreateCompatibleDC(dc));
  if (!source) return;
  SelectedObject selected(source.Get(), image);
  int cw = client.right - client.left;
  int ch = client.bottom - client.top;
  switch (mode) {
    case kKelImageTiled:
      for (int y = 0; y < ch; y += info.height) {
        for (int x = 0; x < cw; x += info.width) DrawBitmap(dc, source.Get(), info, x, y, info.width, info.height);
      }
      break;
    case kKelImageFit: {
      int width = info.width;
      int height = info.height;
      if (width > cw || height > ch) {
        // Scale by the tighter side: width/cw versus height/ch, compared without division.
        if (static_cast<int64_t>(width) * ch > static_cast<int64_t>(height) * cw) {
          height = static_cast<int>(static_cast<int64_t>(height) * cw / width);
          width = cw;
        } else {
          width = static_cast<int>(static_cast<int64_t>(width) * ch / height);
          height = ch;
        }
      }
      DrawBitmap(dc, source.Get(), info, (cw - width) / 2, (ch - height) / 2, width, height);
      break;
    }
    case kKelImageStretched:
      DrawBitmap(dc, source.Get(), info, 0, 0, cw, ch);
      break;
    default:
      DrawBitmap(dc, source.Get(), info, 0, 0, info.width, info.height);
      break;
  }
}

}  // namespace

bool CKWnd_Container::Create(DWORD exStyle, CWTextRef text, DWORD style, const RECT& rect, HWND parent, int id,
                             HMENU menu) {
  if (!RegisterKelWindowClass(ClassName(), CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW)) return false;
  CWString title(text);
  HMENU idOrMenu = parent ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)) : menu;
  return CreateEx(exStyle, ClassName(), title.GetText(), style, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top, parent, idOrMenu);
}

const wchar_t* CKWnd_Container::ClassName() const { return L"KelContainer"; }

void CKWnd_Container::SetBackColor(COLORREF color) {
  backColor_ = color;
  Invalidate(false);
}

void CKWnd_Container::SetImage(UniqueBitmap image) {
  image_ = std::move(image);
  Invalidate(false);
}

void CKWnd_Container::SetImageMode(int mode) {
  imageMode_ = mode;
  Invalidate(false);
}

void CKWnd_Container::SetTransparent(bool transparent) {
  transparent_ = transparent;
  if (Exists()) ModifyStyleEx(transparent ? 0 : WS_EX_TRANSPARENT, transparent ? WS_EX_TRANSPARENT : 0);
  Invalidate(false);
}

void CKWnd_Container::PaintParentBehind(HDC dc) {
  HWND parent = GetParent(GetSafeHwnd());
  if (!parent) return;
  POINT origin{0, 0};
  MapWindowPoints(GetSafeHwnd(), parent, &origin, 1);
  POINT previous{};
  OffsetViewportOrgEx(dc, -origin.x, -origin.y, &previous);
  ::SendMessageW(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  SetViewportOrgEx(dc, previous.x, previous.y, nullptr);
}

void CKWnd_Container::PaintBackground(HDC dc, const RECT& area) {
  RECT client = GetClientRect();
  if (transparent_) {
    PaintParentBehind(dc);
  } else {
    UniqueBrush brush(CreateSolidBrush(ResolveKelColor(backColor_)));
    FillRect(dc, &area, brush.Get());
  }
  if (image_) DrawImage(dc, image_.Get(), imageMode_, client);
}

LRESULT CKWnd_Container::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (listener_ && IsInputMessage(msg)) listener_->OnWindowMessage(msg, wp, lp);
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;  // everything is painted in WM_PAINT
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(GetSafeHwnd(), &ps);
      RECT client = GetClientRect();
      // Off-screen first, so the colour, the parent and the image never flicker in turn.
      UniqueDc buffer(CreateCompatibleDC(dc));
      UniqueBitmap pixels(CreateCompatibleBitmap(dc, client.right, client.bottom));
      if (buffer && pixels) {
        SelectedObject selected(buffer.Get(), pixels.Get());
        PaintBackground(buffer.Get(), client);
        BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
               ps.rcPaint.bottom - ps.rcPaint.top, buffer.Get(), ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
      } else {
        PaintBackground(dc, ps.rcPaint);
      }
      EndPaint(GetSafeHwnd(), &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintBackground(reinterpret_cast<HDC>(wp), GetClientRect());
      return 0;
    case WM_GETDLGCODE:
      return DLGC_STATIC;
    case WM_CREATE: {
      LRESULT result = CWnd::WindowProc(msg, wp, lp);
      if (result != -1 && listener_) listener_->OnCreated();
      return result;
    }
    case WM_DESTROY:
      if (listener_) listener_->OnDestroyed();
      break;
    case WM_SIZE:
      if (listener_) listener_->OnSizeChanged(LOWORD(lp), HIWORD(lp));
      break;
    case WM_SHOWWINDOW:
      if (listener_) listener_->OnShowChanged(wp != 0);
      break;
    case WM_MOVE:
      if (transparent_) {
        // What was behind the old and the new place must be painted again by the parent.
        HWND parent = GetParent(GetSafeHwnd());
        if (parent) InvalidateRect(parent, nullptr, TRUE);
      }
      if (listener_) listener_->OnMoved(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
      break;
    default:
      break;
  }
  return CWnd::WindowProc(msg, wp, lp);
}

void CKWnd_Container::PreSubclassWindow() { SetWindowLongPtrW(GetSafeHwnd(), GWLP_USERDATA, kKelWindowMark); }

CKelWinContainer::CKelWinContainer() : CKelWinContainer(std::make_unique<CKWnd_Container>()) {}

CKelWinContainer::CKelWinContainer(std::unique_ptr<CKWnd_Container> window) : CKelWinControl(std::move(window)) {
  CKelWinContainer::ConnectListener(true);
}

CKelWinContainer::~CKelWinContainer() { CKelWinContainer::ConnectListener(false); }

CKWnd_Container& CKelWinContainer::ContainerWindow() const { return *static_cast<CKWnd_Container*>(Window()); }

void CKelWinContainer::ConnectListener(bool connect) {
  ContainerWindow().SetListener(connect ? static_cast<IContainerEventListener*>(this) : nullptr);
}

bool CKelWinContainer::CreatePlatformWindow(const KelCreateParams& params) {
  RECT rect{params.left, params.top, params.left + params.width, params.top + params.height};
  return ContainerWindow().Create(params.exStyle, params.text, params.style, rect, params.parent, params.id,
                                  params.menu);
}

void CKelWinContainer::SetBackColor(COLORREF color) { ContainerWindow().SetBackColor(color); }

COLORREF CKelWinContainer::GetBackColor() const { return ContainerWindow().BackColor(); }

bool CKelWinContainer::SetImageResource(int id) {
  UniqueBitmap image(LoadBitmapResource(id));
  bool decoded = image.IsValid();
  ContainerWindow().SetImage(std::move(image));
  return decoded;
}

bool CKelWinContainer::SetImageBytes(const void* bytes, size_t length) {
  UniqueBitmap image(DecodeImage(bytes, length));
  bool decoded = image.IsValid();
  ContainerWindow().SetImage(std::move(image));
  return decoded;
}

bool CKelWinContainer::HasImage() const { return ContainerWindow().Image() != nullptr; }

void CKelWinContainer::SetImageMode(int mode) { ContainerWindow().SetImageMode(mode); }

void CKelWinContainer::SetTransparent(bool transparent) { ContainerWindow().SetTransparent(transparent); }

void CKelWinContainer::OnWindowMessage(UINT msg, WPARAM wp, LPARAM lp) { CKelWinControl::OnWindowMessage(msg, wp, lp); }

void CKelWinContainer::OnCreated() { onCreated.Fire(this); }

void CKelWinContainer::OnDestroyed() { onDestroyed.Fire(this); }

void CKelWinContainer::OnSizeChanged(int width, int height) { onSizeChanged.Fire(this, width, height); }

void CKelWinContainer::OnShowChanged(bool shown) { onShowChanged.Fire(this, shown ? 1 : 0); }

void CKelWinContainer::OnMoved(int left, int top) { onMoved.Fire(this, left, top); }

void rg_TuPianKuang::ComputeStyles(KelCreateParams& params) {
  rg_ZuJianBuJuQi::ComputeStyles(params);
  if (ContainerWindow().Transparent()) params.exStyle |= WS_EX_TRANSPARENT;
}
