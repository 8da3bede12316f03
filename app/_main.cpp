#include "_main.h"

#include "AppInfo.h"
#include "Pictures.h"
#include "ScheduleOverview.h"
#include "Scheduling.h"
#include "StoreDiscovery.h"
#include "WinToolkit.h"
#include "WindowFont.h"
#include "common/Component.h"
#include "components/MyAccess.h"

namespace app {
namespace {

// The discovery status: "Nenhum" while there is no usable store list, and
// any other value once discovery has begun to build one.
constexpr const char* kNoDiscovery = "Nenhum";
constexpr const char* kDiscovering = "Lista";

constexpr int kClientWidth = 566;
constexpr int kClientHeight = 393;
// Labels of the rate page end here, against the column of inputs at 201.
constexpr int kLabelColumnRight = 187;

const QColor kHeaderGrey(160, 160, 164);
const QColor kHeaderSilver(192, 192, 192);
const QColor kHeaderOrange(255, 128, 0);
constexpr int kHeaderGradientSteps = 236;

template <class Control>
Control* Named(Control* control, const char* name) {
  control->setObjectName(QString::fromLatin1(name));
  return control;
}

TLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption) {
  return Named(new TLabel(parent, caption), name);
}

TLabel* MakeWrappedLabel(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
                         Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop) {
  TLabel* label = MakeLabel(parent, name, caption);
  label->setWordWrap(true);
  label->setAlignment(alignment);
  label->setGeometry(geometry);
  return label;
}

TBitBtn* MakeButton(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
                    int tabOrder, TBitBtnKind kind = bkCustom, TGlyph glyph = glyphAccept) {
  auto* button = Named(new TBitBtn(parent, caption, kind), name);
  if (kind == bkCustom) button->SetGlyph(Glyph(glyph));
  button->setGeometry(geometry);
  SetTabOrder(button, tabOrder);
  return button;
}

TEdit* MakeEdit(QWidget* parent, const char* name, const QRect& geometry, int maxLength, int tabOrder) {
  auto* edit = Named(new TEdit(parent), name);
  edit->setMaxLength(maxLength);
  edit->setGeometry(geometry);
  SetTabOrder(edit, tabOrder);
  return edit;
}

TCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
                        int tabOrder) {
  auto* box = Named(new TCheckBox(parent, caption), name);
  box->setGeometry(geometry);
  SetTabOrder(box, tabOrder);
  return box;
}

TTabSheet* MakePage(TPageControl* pages, const char* name) {
  auto* page = Named(new TTabSheet, name);
  page->SetTabVisible(false);
  pages->AddPage(page);
  return page;
}

}  // namespace

QString RoundingHelpText() {
  return QStringLiteral(
      "Se arredondar a 1 casa decimal, um produto com o preço de 1,33€ ficará a 1,30€. Mas se o preço for "
      "1,37€ ficará a 1,40€.\nSe arredondar a 2 casas decimais um produto que tenha um novo preço de 1,333€ "
      "ficará a 1,33€. Mas se o preço for 1,337€ ficará a 1,34€");
}

QString IdentityUnreadableText() {
  return QStringLiteral(
      "Não foi possível ler a identificação desta instalação (nome da empresa e número de série). "
      "Nenhuma base de dados foi consultada.");
}

QString NoStoreListText() {
  return QStringLiteral("Não existe nenhuma lista de lojas disponível. Saia e volte a tentar mais tarde.");
}

Tmain::Tmain(QWidget* parent)
    : TcsEZForm(parent), components_(std::make_unique<da::TComponent>()) {
  db_ = CreateSchedulerDatabase(*components_);
  UseDeploymentFile(DeploymentFilePath());

  setObjectName(QStringLiteral("main"));
  setWindowTitle(QString::fromUtf8(ApplicationTitle()));
  SetFixedClientSize(kClientWidth, kClientHeight);
  setFont(WindowFont(8));
  // The button face colour behind every page.
  QPalette p = palette();
  p.setColor(QPalette::Window, p.color(QPalette::Button));
  setPalette(p);
  setAutoFillBackground(true);

  BuildHeader();
  pcontrol = Named(new TPageControl(this), "pcontrol");
  pcontrol->setGeometry(-1, 87, 576, 310);
  tabcondicoes = MakePage(pcontrol, "tabcondicoes");
  tabsoftware = MakePage(pcontrol, "tabsoftware");
  tabexec = MakePage(pcontrol, "tabexec");
  tabconcluido = MakePage(pcontrol, "tabconcluido");
  tabagenda = MakePage(pcontrol, "tabagenda");
  BuildConditionsPage();
  BuildStoresPage();
  BuildRatePage();
  BuildCompletionPage();
  BuildOverviewPage();
  WireEvents();
}

// The components go first: closing a connection still open talks to its
// server, and nothing of the window is needed for that.
Tmain::~Tmain() { components_.reset(); }

void Tmain::SetDeployment(const DeploymentSettings& settings) {
  deploymentError_.clear();
  ApplyDeployment(db_, settings);
  identity_ = IdentityFileSource(settings.identityFile);
}

void Tmain::UseDeploymentFile(const std::string& path) {
  DeploymentSettings deployment;
  std::string error;
  if (!LoadDeployment(path, deployment, error)) deployment = BuiltInDeployment();
  SetDeployment(deployment);
  deploymentError_ = error;
}

void Tmain::SetIdentitySource(IdentitySource source) { identity_ = std::move(source); }

void Tmain::BuildHeader() {
  auto* header = Named(new QWidget(this), "cabecalho");
  header->setGeometry(0, 0, 572, 90);
  Named(new TGradientPanel(header, kHeaderGrey, kHeaderSilver, kHeaderGradientSteps), "gradiente")
      ->setGeometry(0, 0, 572, 70);
  Named(new TPanel(header, kHeaderOrange), "faixa")->setGeometry(0, 70, 572, 20);

  TLabel* title = MakeLabel(header, "lbtitulo", QStringLiteral("Morvane"));
  title->setFont(WindowFont(20));
  title->SetTextColor(Qt::white);
  title->AutoSizeAt(22, 22);
  TLabel* description =
      MakeLabel(header, "lbdescricao", QStringLiteral("Ferramenta para agendar alteração de taxas de IVA"));
  description->SetTextColor(Qt::white);
  description->AutoSizeAt(22, 73);
  Named(new TImage(header, Picture(picLogo)), "Image1")->setGeometry(499, 12, 60, 48);
}

void Tmain::BuildConditionsPage() {
  QWidget* page = tabcondicoes;
  Label1 = MakeWrappedLabel(
      page, "Label1",
      QStringLiteral("Este utilitário permite a alteração da taxa de IVA indicada, assim como a substituição "
                     "dessa taxa em todos os produtos.\r\nA sua utilização incorrecta poderá provocar cálculos "
                     "incorrectos nos preços e nos documentos."),
      QRect(84, 40, 387, 56));
  Label1->SetTextColor(Qt::black);
  Label2 = MakeWrappedLabel(
      page, "Label2",
      QStringLiteral("É da inteira responsabilidade do utilizador a utilização desta ferramenta sem o apoio dos "
                     "técnicos da Morvane ou de um parceiro autorizado. Não poderão ser imputados à Morvane ou a "
                     "um parceiro autorizado quaisquer danos resultantes do uso indevido desta aplicação."),
      QRect(84, 104, 387, 56));
  Label2->SetTextColor(Qt::black);
  Label3 = MakeWrappedLabel(page, "Label3",
                            QStringLiteral("Antes de executar esta aplicação deverá efectuar uma cópia de "
                                           "segurança, podendo ser o único meio de reverter as alterações."),
                            QRect(84, 175, 387, 28));
  Label3->SetTextColor(Qt::red);
  Label3->SetBold(true);
  btaceito = MakeButton(page, "btaceito", QStringLiteral("Li e aceito as condições"), QRect(94, 256, 201, 33), 0,
                        bkCustom, glyphAccept);
  btnaoaceito = MakeButton(page, "btnaoaceito", QStringLiteral("Não concordo"), QRect(302, 256, 161, 33), 1, bkCancel);
}

void Tmain::BuildStoresPage() {
  QWidget* page = tabsoftware;
  // msg1 lies under lista: created first.
  msg1 = MakeWrappedLabel(page, "msg1", QString(), QRect(19, 71, 537, 42), Qt::AlignHCenter | Qt::AlignTop);
  msg1->hide();
  lista = Named(new TCheckListBox(page), "lista");
  lista->setGeometry(3, 3, 553, 247);
  SetTabOrder(lista, 0);
  lista->hide();
  btall = MakeButton(page, "btall", QStringLiteral("Marcar\r\nTodos"), QRect(4, 256, 84, 41), 1, bkCustom,
                     glyphCheckAll);
  btall->hide();
  btnone = MakeButton(page, "btnone", QStringLiteral("Descmarcar\r\ntodos"), QRect(93, 256, 84, 41), 2, bkCustom,
                      glyphUncheckAll);
  btnone->hide();
  btag1 = MakeButton(page, "btag1", QStringLiteral("Ver agendamentos"), QRect(182, 256, 138, 41), 3, bkCustom,
                     glyphAgenda);
  btag1->hide();
  btnext1 = MakeButton(page, "btnext1", QStringLiteral("Continuar"), QRect(325, 256, 138, 41), 4, bkCustom,
                       glyphNext);
  btnext1->hide();
  btsair1 = MakeButton(page, "btsair1", QStringLiteral("Sair"), QRect(469, 256, 88, 41), 5, bkCancel);
  basedados = Named(new THiddenList(page), "basedados");
  Hosts = Named(new THiddenList(page), "Hosts");
  oldtaxa = Named(new THiddenList(page), "oldtaxa");
}

void Tmain::BuildRatePage() {
  QWidget* page = tabexec;
  auto rightLabel = [&](const char* name, const QString& caption, int top) {
    TLabel* label = MakeLabel(page, name, caption);
    label->SetBold(true);
    label->AutoSizeRightAt(kLabelColumnRight, top);
    return label;
  };
  auto label = [&](const char* name, const QString& caption, int left, int top) {
    TLabel* l = MakeLabel(page, name, caption);
    l->AutoSizeAt(left, top);
    return l;
  };

  Label5 = rightLabel("Label5", QStringLiteral("Taxa existente"), 16);
  anterior = MakeEdit(page, "anterior", QRect(201, 13, 23, 21), 2, 0);
  Label8 = label("Label8", QStringLiteral("%"), 227, 16);
  Label6 = rightLabel("Label6", QStringLiteral("Alterar para"), 40);
  nova = MakeEdit(page, "nova", QRect(201, 37, 23, 21), 2, 1);
  Label9 = label("Label9", QStringLiteral("%"), 227, 40);
  Label10 = label("Label10", QStringLiteral("Nova descrição"), 250, 40);
  descricao = MakeEdit(page, "descricao", QRect(329, 37, 142, 21), 50, 2);
  Label7 = rightLabel("Label7", QStringLiteral("Opções"), 65);
  opnovataxa = MakeCheckBox(page, "opnovataxa", QStringLiteral("Não eliminar a taxa actual (criar nova)"),
                            QRect(201, 64, 208, 17), 3);
  opvenda = MakeCheckBox(page, "opvenda", QStringLiteral("Actualizar os preços de venda"), QRect(201, 88, 171, 17), 4);
  oparredondar = MakeCheckBox(page, "oparredondar", QStringLiteral("Arredondar novos preços"),
                              QRect(201, 111, 139, 17), 5);
  oparredondar->hide();
  lbcasas = rightLabel("lbcasas", QStringLiteral("Arredondamento"), 139);
  lbcasas->hide();
  casas = MakeEdit(page, "casas", QRect(201, 136, 23, 21), 2, 6);
  casas->setText(QStringLiteral("1"));
  casas->hide();
  txtcasas = label("txtcasas", QStringLiteral("casas decimais"), 227, 139);
  txtcasas->hide();
  btajuda = MakeButton(page, "btajuda", QStringLiteral("O que é isto?"), QRect(311, 134, 98, 25), 12, bkHelp);
  SetTabStop(btajuda, false);
  btajuda->hide();
  Label4 = rightLabel("Label4", QStringLiteral("Dia"), 171);
  data = Named(new TDatePicker(page), "data");
  data->setGeometry(201, 168, 104, 21);
  SetTabOrder(data, 7);
  Label13 = rightLabel("Label13", QStringLiteral("Às"), 203);
  hora = Named(new TTimePicker(page), "hora");
  hora->setGeometry(201, 200, 104, 21);
  SetTabOrder(hora, 8);
  BitBtn1 = MakeButton(page, "BitBtn1", QStringLiteral("Bases de Dados"), QRect(1, 256, 120, 41), 11, bkCustom,
                       glyphDatabase);
  BitBtn3 = MakeButton(page, "BitBtn3", QStringLiteral("Ver agendamentos"), QRect(182, 256, 138, 41), 13, bkCustom,
                       glyphAgenda);
  btalterar = MakeButton(page, "btalterar", QStringLiteral("Agendar"), QRect(325, 256, 138, 41), 9, bkCustom,
                         glyphSchedule);
  BitBtn2 = MakeButton(page, "BitBtn2", QStringLiteral("Sair"), QRect(469, 256, 88, 41), 10, bkCancel);
}

void Tmain::BuildCompletionPage() {
  QWidget* page = tabconcluido;
  Image2 = Named(new TImage(page, Picture(picCheckMark)), "Image2");
  Image2->setGeometry(256, 27, 48, 48);
  Label11 = MakeWrappedLabel(
      page, "Label11",
      QStringLiteral("Agendamento efectuado com sucesso.\r\nSerá executado a partir do dia e hora indicada e "
                     "poderá levar algum tempo.\r\nAs novas taxas e valores poderão levar algum tempo a "
                     "sincronizar para as lojas. Se o servidor estiver desligado, a sincronização só se "
                     "iniciará após este estar ligado."),
      QRect(72, 82, 417, 127), Qt::AlignHCenter | Qt::AlignTop);
  Label11->SetTextColor(Qt::black);
  Label11->SetPointSize(9);
  btinicio = MakeButton(page, "btinicio", QStringLiteral("Bases de Dados"), QRect(1, 256, 120, 41), 1, bkCustom,
                        glyphDatabase);
  btagendados = MakeButton(page, "btagendados", QStringLiteral("Ver agendamentos"), QRect(182, 256, 138, 41), 2,
                           bkCustom, glyphAgenda);
  fechar = MakeButton(page, "fechar", QStringLiteral("Sair"), QRect(469, 256, 88, 41), 0, bkCancel);
}

void Tmain::BuildOverviewPage() {
  QWidget* page = tabagenda;
  // msg2 lies under lista2 and shows only while lista2 is hidden.
  msg2 = MakeWrappedLabel(page, "msg2", QStringLiteral("Aguarde por favor, a carregar a lista"),
                          QRect(19, 71, 526, 42), Qt::AlignHCenter | Qt::AlignTop);
  lista2 = Named(new TCheckListBox(page), "lista2");
  lista2->setGeometry(3, 3, 553, 247);
  SetTabOrder(lista2, 2);
  BitBtn4 = MakeButton(page, "BitBtn4", QStringLiteral("Bases de Dados"), QRect(1, 256, 120, 41), 0, bkCustom,
                       glyphDatabase);
  btdel = MakeButton(page, "btdel", QStringLiteral("Remover\r\nSeleccionados"), QRect(213, 256, 123, 41), 3,
                     bkCustom, glyphRemove);
  BitBtn5 = MakeButton(page, "BitBtn5", QStringLiteral("Sair"), QRect(469, 256, 88, 41), 1, bkCancel);
}

void Tmain::WireEvents() {
  auto click = [this](void (Tmain::*handler)(QObject*)) {
    return [this, handler](QObject* sender) { (this->*handler)(sender); };
  };
  auto keyPress = [this](void (Tmain::*handler)(QObject*, char&)) {
    return [this, handler](QObject* sender, char& key) { (this->*handler)(sender, key); };
  };
  OnCreate = click(&Tmain::FormCreate);
  btaceito->OnClick = click(&Tmain::btaceitoClick);
  btnaoaceito->OnClick = click(&Tmain::btnaoaceitoClick);
  btsair1->OnClick = click(&Tmain::btsair1Click);
  BitBtn2->OnClick = click(&Tmain::BitBtn2Click);
  fechar->OnClick = click(&Tmain::fecharClick);
  BitBtn5->OnClick = click(&Tmain::BitBtn5Click);
  btnext1->OnClick = click(&Tmain::btnext1Click);
  BitBtn1->OnClick = click(&Tmain::BitBtn1Click);
  btag1->OnClick = click(&Tmain::btagendadosClick);
  BitBtn3->OnClick = click(&Tmain::btagendadosClick);
  btagendados->OnClick = click(&Tmain::btagendadosClick);
  btinicio->OnClick = click(&Tmain::btinicioClick);
  BitBtn4->OnClick = click(&Tmain::btinicioClick);
  btall->OnClick = click(&Tmain::btallClick);
  btnone->OnClick = click(&Tmain::btnoneClick);
  // The handlers below are virtual: called through the member pointer, they
  // reach a descendant's version.
  tabsoftware->OnShow = click(&Tmain::tabsoftwareShow);
  tabagenda->OnShow = click(&Tmain::tabagendaShow);
  btalterar->OnClick = click(&Tmain::btalterarClick);
  btdel->OnClick = click(&Tmain::btdelClick);
  tabexec->OnEnter = click(&Tmain::tabexecEnter);
  anterior->OnKeyPress = keyPress(&Tmain::anteriorKeyPress);
  nova->OnKeyPress = keyPress(&Tmain::novaKeyPress);
  casas->OnKeyPress = keyPress(&Tmain::casasKeyPress);
  nova->OnExit = click(&Tmain::novaExit);
  opvenda->OnClick = click(&Tmain::opvendaClick);
  oparredondar->OnClick = click(&Tmain::oparredondarClick);
  btajuda->OnClick = click(&Tmain::btajudaClick);
}

// --- page flow ---------------------------------------------------------------

void Tmain::FormCreate(QObject*) { ShowPage(pcontrol, 0); }

void Tmain::btaceitoClick(QObject*) { ShowPage(pcontrol, 1); }

void Tmain::btnaoaceitoClick(QObject*) { Close(); }
void Tmain::btsair1Click(QObject*) { Close(); }
void Tmain::BitBtn2Click(QObject*) { Close(); }
void Tmain::fecharClick(QObject*) { Close(); }
void Tmain::BitBtn5Click(QObject*) { Close(); }

void Tmain::btnext1Click(QObject*) {
  if (lista->ItemIndex() >= 0) ShowPage(pcontrol, 2);
}

void Tmain::BitBtn1Click(QObject*) { ShowPage(pcontrol, 1); }

void Tmain::btagendadosClick(QObject*) { ShowPage(pcontrol, 4); }

void Tmain::btinicioClick(QObject*) {
  SetText(descricao, "");
  // Each of these runs its click handler, which hides the rounding inputs.
  opnovataxa->SetChecked(false);
  opvenda->SetChecked(false);
  oparredondar->SetChecked(false);
  SetVisible(oparredondar, false);
  SetVisible(lbcasas, false);
  SetVisible(casas, false);
  SetVisible(txtcasas, false);
  ShowPage(pcontrol, 1);
}

void Tmain::btallClick(QObject*) {
  for (int i = 0; i < lista->Count(); ++i) lista->SetChecked(i, true);
}

void Tmain::btnoneClick(QObject*) {
  for (int i = 0; i < lista->Count(); ++i) lista->SetChecked(i, false);
}

// --- store discovery -----------------------------------------------------------

void Tmain::tabsoftwareShow(QObject*) {
  SetVisible(lista, false);
  SetCaption(msg1, QStringLiteral("Aguarde por favor, a criar a lista..."));
  SetVisible(msg1, true);
  RepaintNow(msg1);
  lista->Clear();
  basedados->Clear();
  Hosts->Clear();
  db_.cn->SetConnected(false);
  discoveryStatus_ = kNoDiscovery;

  InstallationIdentity identity;
  std::string identityError;
  if (!identity_ || !identity_(identity, identityError)) {
    // Without the identity there is no customer to look for.
    SetCaption(msg1, IdentityUnreadableText());
    SetVisible(msg1, true);
    return;
  }

  discoveryStatus_ = kDiscovering;
  CustomerLocation customer;
  try {
    if (!deploymentError_.empty()) throw da::Exception(deploymentError_);
    customer = LookUpCustomer(db_, identity.serial);
  } catch (...) {
    MessageBox(this, QStringLiteral("Falha na ligação à base de dados!"), QStringLiteral("Aviso"), miStop, mbOK);
    discoveryStatus_ = kNoDiscovery;
  }

  if (discoveryStatus_ != kNoDiscovery) {
    StoreList stores;
    try {
      ListStores(db_, identity, customer, stores);
      ShowStoreList(stores);
      SetVisible(lista, true);
      SetVisible(msg1, false);
      SetVisible(btall, true);
      SetVisible(btnone, true);
    } catch (...) {
      ShowStoreList(stores);  // what was gathered stays, hidden
      SetCaption(msg1, QStringLiteral("Erro no acesso à base de dados!"));
      SetVisible(msg1, true);
      MessageBox(this, QStringLiteral("Base de dados Talvero não acessível!"), QStringLiteral("Aviso"), miStop, mbOK);
      discoveryStatus_ = kNoDiscovery;
    }
  }

  if (discoveryStatus_ != kNoDiscovery) {
    lista->SetItemIndex(0);
    SetVisible(btnext1, true);
    SetVisible(btag1, true);
    SetFocus(btnext1);
  } else {
    SetCaption(msg1, NoStoreListText());
    SetVisible(msg1, true);
  }
}

void Tmain::ShowStoreList(const StoreList& stores) {
  for (int i = 0; i < stores.Count(); ++i) {
    lista->Add(stores.entries[i]);
    lista->SetChecked(i, stores.checked[i]);
    basedados->Add(stores.databases[i]);
    Hosts->Add(stores.hosts[i]);
  }
}

// --- scheduling --------------------------------------------------------------

void Tmain::btalterarClick(QObject*) {
  const RateChange asEntered = ReadRateChange(ReadRatePage());
  if (!IsSchedulableMoment(asEntered.moment, da::Now())) {
    MessageBox(this, QStringLiteral("A Data e Hora agendadas são inválidas!"), QStringLiteral("Erro"), miStop, mbOK);
    SetFocus(data);
    return;
  }
  db_.cn->SetConnected(true);
  if (oparredondar->Checked() && !RoundingPlacesInRange(RoundingPlacesToCheck(Text(casas)))) {
    MessageBox(this, QStringLiteral("O número de casas de arredondamento deve estar compreendido entre \"1\" e \"3\"!"),
               QStringLiteral("Erro"), miStop, mbOK);
    SetFocus(casas);
    return;
  }
  if (MessageBox(this, QStringLiteral("Tem a certeza que deseja agendar a taxa de IVA?"), QStringLiteral("Confirmação"),
                 miQuestion, mbYesNo) != mrYes)
    return;
  db_.cnlic->SetConnected(true);
  for (int i = 0; i < lista->Count(); ++i) {
    if (!lista->Checked(i)) continue;
    // Each store's earlier row is replaced in one transaction: a failure
    // leaves it in place (Scheduling.h).
    ScheduleStore(db_, StoreRef{Hosts->Item(i), basedados->Item(i), lista->Item(i)}, ReadRateChange(ReadRatePage()));
  }
  db_.cnlic->SetConnected(false);
  ShowPage(pcontrol, 3);
}

// --- schedule overview and removal ----------------------------------------------

void Tmain::tabagendaShow(QObject*) {
  lista2->Clear();
  SetVisible(lista2, false);
  RepaintNow(tabagenda);
  basedados->Clear();
  Hosts->Clear();
  oldtaxa->Clear();
  OverviewList overview;
  try {
    LoadOverview(db_, overview);
    ShowOverview(overview);
    SetVisible(lista2, true);
  } catch (...) {
    ShowOverview(overview);  // what was gathered stays, hidden
    MessageBox(this, QStringLiteral("Base de dados Talvero não acessível!"), QStringLiteral("Aviso"), miStop, mbOK);
  }
}

void Tmain::ShowOverview(const OverviewList& overview) {
  for (int i = 0; i < overview.Count(); ++i) {
    lista2->Add(overview.entries[i]);
    basedados->Add(overview.databases[i]);
    Hosts->Add(overview.hosts[i]);
    oldtaxa->Add(overview.oldRates[i]);
  }
}

void Tmain::btdelClick(QObject*) {
  for (int i = 0; i < lista2->Count(); ++i) {
    if (lista2->Checked(i)) RemoveScheduled(db_, Hosts->Item(i), basedados->Item(i), OldRateOf(oldtaxa->Item(i)));
  }
  tabagendaShow(this);
}

// --- the rate page -----------------------------------------------------------

void Tmain::tabexecEnter(QObject*) {
  SetVisible(opvenda, true);
  data->SetDate(Tomorrow(da::Today()));
}

void Tmain::anteriorKeyPress(QObject*, char& key) {
  if (!IsRateFieldKey(key)) key = 0;
}

void Tmain::novaKeyPress(QObject*, char& key) {
  if (!IsRateFieldKey(key)) key = 0;
}

void Tmain::casasKeyPress(QObject*, char& key) {
  if (!IsRateFieldKey(key)) key = 0;
}

void Tmain::novaExit(QObject*) { SetText(descricao, RateDescription(Text(nova))); }

void Tmain::opvendaClick(QObject*) {
  if (opvenda->Checked()) {
    SetVisible(oparredondar, true);
    return;
  }
  oparredondar->SetChecked(false);
  SetVisible(oparredondar, false);
  SetVisible(lbcasas, false);
  SetVisible(casas, false);
  SetVisible(txtcasas, false);
}

void Tmain::oparredondarClick(QObject*) {
  const bool rounding = oparredondar->Checked();
  SetVisible(lbcasas, rounding);
  SetVisible(casas, rounding);
  SetVisible(txtcasas, rounding);
  SetVisible(btajuda, rounding);
}

void Tmain::btajudaClick(QObject*) {
  MessageBox(this, RoundingHelpText(), QStringLiteral("Ajuda"), miInformation, mbOK);
}

RatePageInputs Tmain::ReadRatePage() const {
  RatePageInputs inputs;
  inputs.anterior = Text(anterior);
  inputs.nova = Text(nova);
  inputs.descricao = Text(descricao);
  inputs.casas = Text(casas);
  inputs.opnovataxa = opnovataxa->Checked();
  inputs.opvenda = opvenda->Checked();
  inputs.oparredondar = oparredondar->Checked();
  inputs.date = data->Date();
  inputs.hour = hora->Hour();
  inputs.minute = hora->Minute();
  inputs.second = hora->Second();
  return inputs;
}

}  // namespace app
