#include "datasets/dataset_services.h"

namespace fw {

DataSetServices& TheDataSetServices() {
  static DataSetServices services;
  return services;
}

}  // namespace fw
