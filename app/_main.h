#pragma once
// The scheduler's one window: a wizard of five pages with hidden tabs on a
// fixed dialog, under a header band.
//
//   0 tabcondicoes  the disclaimer to accept
//   1 tabsoftware   the customer's stores (on show: store discovery)
//   2 tabexec       old and new rate, options, date and time (on focus
//                   entering: the page's defaults)
//   3 tabconcluido  completion
//   4 tabagenda     the pending changes (on show: the overview load)
//
// Create it with CreateForm<Tmain>() (WinForm.h). Its controls are owned by
// the window through their Qt parents and carry the Qt object names the
// window definition gives them. Its database components (SchedulerDatabase.h)
// are owned by the window too; they take the deployment settings of the
// installation (Deployment.h) and the identity of the installation file
// those settings name (Identity.h).

#include <QString>
#include <memory>
#include <string>

#include "CSEZForm.h"
#include "Deployment.h"
#include "Identity.h"
#include "RatePage.h"
#include "SchedulerDatabase.h"

namespace da {
class TComponent;
}

namespace app {

class TBitBtn;
class TCheckBox;
class TCheckListBox;
class TDatePicker;
class TEdit;
class THiddenList;
class TImage;
class TLabel;
class TPageControl;
class TTabSheet;
class TTimePicker;
struct OverviewList;
struct StoreList;

// The rounding help of the rate page.
QString RoundingHelpText();

// The texts of the stores page that the window chooses itself.
QString IdentityUnreadableText();
QString NoStoreListText();

class Tmain : public TcsEZForm {
  Q_OBJECT
 public:
  explicit Tmain(QWidget* parent = nullptr);
  ~Tmain() override;

  // Replaces the deployment settings read at creation (the connections
  // must be closed) and the identity source.
  void SetDeployment(const DeploymentSettings& settings);
  // The same from a deployment file (Deployment.h), as creation does with
  // the installation's file. A file that cannot be used leaves the
  // built-in settings in place, and store discovery then fails as with an
  // unreachable database, touching none.
  void UseDeploymentFile(const std::string& path);
  void SetIdentitySource(IdentitySource source);
  // The connections and queries (owned by the window).
  const SchedulerDatabase& Database() const { return db_; }

  // The rate page's inputs as the scheduling reads them (RatePage.h).
  RatePageInputs ReadRatePage() const;

  // "Nenhum" while no usable store list has been built.
  const std::string& DiscoveryStatus() const { return discoveryStatus_; }

 protected:
  // The database work of the window: store discovery, the overview load,
  // scheduling and removal (virtual, so that the page flow can be tested
  // without a database).
  virtual void tabsoftwareShow(QObject* sender);
  virtual void tabagendaShow(QObject* sender);
  virtual void btalterarClick(QObject* sender);
  virtual void btdelClick(QObject* sender);

 private:
  void BuildHeader();
  void BuildConditionsPage();
  void BuildStoresPage();
  void BuildRatePage();
  void BuildCompletionPage();
  void BuildOverviewPage();
  void WireEvents();

  void FormCreate(QObject* sender);
  void btaceitoClick(QObject* sender);
  void btnaoaceitoClick(QObject* sender);
  void btsair1Click(QObject* sender);
  void BitBtn2Click(QObject* sender);
  void fecharClick(QObject* sender);
  void BitBtn5Click(QObject* sender);
  void btnext1Click(QObject* sender);
  void BitBtn1Click(QObject* sender);
  void btagendadosClick(QObject* sender);
  void btinicioClick(QObject* sender);
  void btallClick(QObject* sender);
  void btnoneClick(QObject* sender);
  void tabexecEnter(QObject* sender);
  void anteriorKeyPress(QObject* sender, char& key);
  void novaKeyPress(QObject* sender, char& key);
  void casasKeyPress(QObject* sender, char& key);
  void novaExit(QObject* sender);
  void opvendaClick(QObject* sender);
  void oparredondarClick(QObject* sender);
  void btajudaClick(QObject* sender);

  void ShowStoreList(const StoreList& stores);
  void ShowOverview(const OverviewList& overview);

  std::string discoveryStatus_ = "Nenhum";

  // The owner of the database components; db_ borrows them from it.
  std::unique_ptr<da::TComponent> components_;
  SchedulerDatabase db_;
  // Empty, or why the deployment file could not be used: the central
  // lookup then fails as an unreachable database would.
  std::string deploymentError_;
  IdentitySource identity_;

  // The controls (borrowed: owned by the window through their parents).
  TPageControl* pcontrol = nullptr;
  TTabSheet* tabcondicoes = nullptr;
  TTabSheet* tabsoftware = nullptr;
  TTabSheet* tabexec = nullptr;
  TTabSheet* tabconcluido = nullptr;
  TTabSheet* tabagenda = nullptr;

  TLabel* Label1 = nullptr;
  TLabel* Label2 = nullptr;
  TLabel* Label3 = nullptr;
  TBitBtn* btaceito = nullptr;
  TBitBtn* btnaoaceito = nullptr;

  TCheckListBox* lista = nullptr;
  TLabel* msg1 = nullptr;
  TBitBtn* btall = nullptr;
  TBitBtn* btnone = nullptr;
  TBitBtn* btag1 = nullptr;
  TBitBtn* btnext1 = nullptr;
  TBitBtn* btsair1 = nullptr;
  THiddenList* basedados = nullptr;
  THiddenList* Hosts = nullptr;
  THiddenList* oldtaxa = nullptr;

  TLabel* Label5 = nullptr;
  TEdit* anterior = nullptr;
  TLabel* Label8 = nullptr;
  TLabel* Label6 = nullptr;
  TEdit* nova = nullptr;
  TLabel* Label9 = nullptr;
  TLabel* Label10 = nullptr;
  TEdit* descricao = nullptr;
  TLabel* Label7 = nullptr;
  TCheckBox* opnovataxa = nullptr;
  TCheckBox* opvenda = nullptr;
  TCheckBox* oparredondar = nullptr;
  TLabel* lbcasas = nullptr;
  TEdit* casas = nullptr;
  TLabel* txtcasas = nullptr;
  TBitBtn* btajuda = nullptr;
  TLabel* Label4 = nullptr;
  TDatePicker* data = nullptr;
  TLabel* Label13 = nullptr;
  TTimePicker* hora = nullptr;
  TBitBtn* BitBtn1 = nullptr;
  TBitBtn* BitBtn3 = nullptr;
  TBitBtn* btalterar = nullptr;
  TBitBtn* BitBtn2 = nullptr;

  TImage* Image2 = nullptr;
  TLabel* Label11 = nullptr;
  TBitBtn* btinicio = nullptr;
  TBitBtn* btagendados = nullptr;
  TBitBtn* fechar = nullptr;

  TCheckListBox* lista2 = nullptr;
  TLabel* msg2 = nullptr;
  TBitBtn* BitBtn4 = nullptr;
  TBitBtn* btdel = nullptr;
  TBitBtn* BitBtn5 = nullptr;
};

}  // namespace app
