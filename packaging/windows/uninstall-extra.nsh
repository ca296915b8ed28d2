; The association is taken back only where it is still the loader's; the
; vendor's key goes when nothing else of the vendor's is in it.
ReadRegStr $0 SHCTX "Software\Classes\.qv" ""
StrCmp $0 "QV.UpdateFile" 0 +2
  DeleteRegKey SHCTX "Software\Classes\.qv"
DeleteRegKey SHCTX "Software\Classes\QV.UpdateFile"
DeleteRegKey SHCTX "Software\Velt\qvloader"
DeleteRegKey /ifempty SHCTX "Software\Velt"
System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
