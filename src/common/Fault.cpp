#include "common/Fault.h"

namespace velmar {

const char* standardFaultDescription(int number) {
    switch (number) {
    case faultno::InvalidCall: return "Chiamata di routine o argomento non validi";
    case faultno::Overflow: return "Overflow";
    case faultno::OutOfRange: return "Indice non incluso nell'intervallo";
    case faultno::FileNotFound: return "Impossibile trovare il file";
    case faultno::FileAlreadyOpen: return "File già aperto";
    case faultno::PermissionDenied: return "Autorizzazione negata";
    case faultno::FileAccess: return "Errore di accesso al percorso/file";
    case faultno::PathNotFound: return "Impossibile trovare il percorso";
    case faultno::MissingElement: return "Variabile oggetto non impostata";
    case faultno::DllLoad: return "Errore durante il caricamento della DLL";
    case faultno::DllEntryPoint: return "Impossibile trovare il punto di ingresso della DLL";
    case faultno::InvalidProperty: return "Valore di proprietà non valido";
    case faultno::InvalidPort: return "Numero di porta non valido";
    case faultno::PortAlreadyOpen: return "Porta già aperta";
    case faultno::PortUnavailable: return "Hardware non disponibile";
    case faultno::PortNotOpen: return "Operazione valida solo con la porta aperta";
    case faultno::WrongSocketState:
        return "Protocollo o stato della connessione non validi per la richiesta";
    default: return "";
    }
}

} // namespace velmar
