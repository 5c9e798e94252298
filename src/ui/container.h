// Containers: the platform window "KelContainer" that paints a background colour and an
// image (alpha-blended with its per-pixel alpha), the container control objects and the
// picture box. User-interface thread only.
#pragma once

#include <windows.h>

#include "ui/control.h"

// The system button-face colour as a property value.
constexpr COLORREF kKelSystemFaceColor = 0xFF000000;

enum KelImageMode : int {
  kKelImageTopLeft = 0,  // natural size at the top-left corner
  kKelImageTiled = 1,
  kKelImageFit = 2,  // scaled down keeping the aspect ratio, centred
  kKelImageStretched = 3,
};

// COLORREF of a colour property: kKelSystemFaceColor means the button face.
COLORREF ResolveKelColor(COLORREF color);

class CKWnd_Container : public CWnd {
 public:
  bool Create(DWORD exStyle, CWTextRef text, DWORD style, const RECT& rect, HWND parent, int id, HMENU menu);

  void SetListener(IContainerEventListener* listener) { listener_ = listener; }

  void SetBackColor(COLORREF color);
  COLORREF BackColor() const { return backColor_; }
  // Takes ownership; repaints.
  void SetImage(UniqueBitmap image);
  HBITMAP Image() const { return image_.Get(); }
  void SetImageMode(int mode);
  int ImageMode() const { return imageMode_; }
  // Transparent containers paint their parent's client area behind them first.
  void SetTransparent(bool transparent);
  bool Transparent() const { return transparent_; }

  // Paints the background (colour, parent behind a transparent container, image) of the
  // client rectangle into dc.
  void PaintBackground(HDC dc, const RECT& area);

 protected:
  virtual const wchar_t* ClassName() const;
  void PreSubclassWindow() override;  // stores the toolkit mark
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  IContainerEventListener* Listener() const { return listener_; }

 private:
  void PaintParentBehind(HDC dc);

  IContainerEventListener* listener_ = nullptr;
  COLORREF backColor_ = kKelSystemFaceColor;
  UniqueBitmap image_;
  int imageMode_ = kKelImageTopLeft;
  bool transparent_ = false;
};

class CKelWinContainer : public CKelWinControl, public IContainerEventListener {
  KEL_DECLARE_CLASS(CKelWinContainer, CKelWinControl)

  CKelWinContainer();
  ~CKelWinContainer() override;

  void SetBackColor(COLORREF color);
  COLORREF GetBackColor() const;
  // Decodes RCDATA id of the resource module; false (and no image) when it cannot be decoded.
  bool SetImageResource(int id);
  // Decodes an image file held in memory.
  bool SetImageBytes(const void* bytes, size_t length);
  bool HasImage() const;
  void SetImageMode(int mode);
  void SetTransparent(bool transparent);

  // IBaseEventListener / IContainerEventListener
  void OnWindowMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnCreated() override;
  void OnDestroyed() override;
  void OnSizeChanged(int width, int height) override;
  void OnShowChanged(bool shown) override;
  void OnMoved(int left, int top) override;

  EventBinding<> onCreated;
  EventBinding<> onDestroyed;
  EventBinding<int, int> onSizeChanged;  // client width, height
  EventBinding<int> onShowChanged;       // 1 shown, 0 hidden
  EventBinding<int, int> onMoved;        // left, top

 protected:
  explicit CKelWinContainer(std::unique_ptr<CKWnd_Container> window);
  CKWnd_Container& ContainerWindow() const;
  bool CreatePlatformWindow(const KelCreateParams& params) override;
  bool IsContainer() const override { return true; }
  void ConnectListener(bool connect) override;
};

// Container with layout.
class rg_ZuJianBuJuQi : public CKelWinContainer {
  KEL_DECLARE_CLASS(rg_ZuJianBuJuQi, CKelWinContainer)

  rg_ZuJianBuJuQi() = default;

 protected:
  explicit rg_ZuJianBuJuQi(std::unique_ptr<CKWnd_Container> window) : CKelWinContainer(std::move(window)) {}
};

// Picture box: a container showing an image; transparent ones let the parent show through.
class rg_TuPianKuang : public rg_ZuJianBuJuQi {
  KEL_DECLARE_CLASS(rg_TuPianKuang, rg_ZuJianBuJuQi)

  rg_TuPianKuang() = default;

 protected:
  void ComputeStyles(KelCreateParams& params) override;
};
