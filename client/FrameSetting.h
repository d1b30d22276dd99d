#pragma once
// The settings overlay: the General page (close the program), the Connection page (known and
// typed boards, connect) and the Import PPT page.

#include <QObject>
#include <QString>

#include "net/HttpClient.h"
#include "rtl/CodePage.h"
#include "ui/Controls.h"
#include "ui/Form.h"

class TFrameSetting : public ui::Frame {
  Q_OBJECT
 public:
  Q_INVOKABLE explicit TFrameSetting(QObject* owner);
  ~TFrameSetting() override;

  // Shows the General page and leaves the title as it is.
  void InitView();
  // Appends one board row to list_device: the name, "IP : " and the address, and the link icon
  // (linked when `connected`).
  void CreateListItem(const QString& name, const QString& ip, bool connected);
  // Rebuilds list_img from ./out (created when missing): one 80 x 80 item per page image.
  void AddItemIntoPdfScroll();
  // Posts every page image of img_path to the board's file server in one multipart request,
  // then shows "PPT upload finish" and sends "uploadfinish". Raises on a failed request.
  void file_upload();

  // Read-only view of the overlay's state beside the class.
  bool ImportLoaded() const;  // converted pages are available to the Import PPT page
  bool AddressTyped() const;  // a key went to edit_ip since the last close or connect
  int UsedIndex() const;      // board-table index that a successful connect marks

  Q_INVOKABLE void layout_general_click(QObject* sender);
  Q_INVOKABLE void layout_list_click(QObject* sender);
  Q_INVOKABLE void layout_exp_click(QObject* sender);
  Q_INVOKABLE void list_deviceItemClick(QObject* sender, ui::ListBoxItem* item);
  Q_INVOKABLE void edit_ipKeyDown(QObject* sender, quint16& key, QChar& keyChar,
                                  ui::ShiftState shift);
  Q_INVOKABLE void connect_btnClick(QObject* sender);
  Q_INVOKABLE void timer_connectTimer(QObject* sender);
  Q_INVOKABLE void img_close_click(QObject* sender);
  Q_INVOKABLE void img_finish_click(QObject* sender);
  Q_INVOKABLE void add_picClick(QObject* sender);
  Q_INVOKABLE void openfileClose(QObject* sender);
  Q_INVOKABLE void timer_findfileTimer(QObject* sender);

  // Components.
  ui::Image* img_leftbar;
  ui::Text* Setting;
  ui::Layout* layout_general;
  ui::Image* img_bg_general;
  ui::Image* img_general;
  ui::Text* txt_general;
  ui::Layout* layout_list;
  ui::Image* img_bg_list;
  ui::Image* img_list;
  ui::Text* txt_list;
  ui::Layout* layout_exp;
  ui::Image* img_bg_exp;
  ui::Image* img_exp;
  ui::Text* txt_exp;
  ui::Image* img_bg;
  ui::Image* img_close;
  ui::Text* txt_name;
  ui::Layout* layout_gen_view;
  ui::Image* img_finish;
  ui::Text* txt_finish_info;
  ui::Layout* layout_list_view;
  ui::ListBox* list_device;
  ui::Edit* edit_name;
  ui::Edit* edit_ip;
  ui::Image* img_connect;
  ui::Layout* layout_exp_view;
  ui::ListBox* list_img;
  ui::Image* img_add;
  ui::Text* txt_status;
  ui::ActivityIndicator* anime_load;
  ui::Timer* timer_connect;
  ui::ImageList* list_icon;
  ui::OpenDialog* openfile;
  ui::Timer* timer_findfile;

  // The file server's client, kept for the frame's life for its cookies.
  net::HttpClient http_sendfile;

  // Address of the board of the last successful connect: the host of the file-server requests.
  rtl::AnsiString ip_server;

 private:
  enum class Page { General, Connection, Import };
  // Forgets the highlighted row and shows one page with its mark.
  void ShowPage(Page page);
};
