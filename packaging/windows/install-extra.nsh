; .qv files open in the loader, with its icon (included by CPack's installer script).
WriteRegStr SHCTX "Software\Classes\.qv" "" "QV.UpdateFile"
WriteRegStr SHCTX "Software\Classes\QV.UpdateFile" "" "Файл обновления БК серии QV"
WriteRegStr SHCTX "Software\Classes\QV.UpdateFile\DefaultIcon" "" "$INSTDIR\qvloader.exe,0"
WriteRegStr SHCTX "Software\Classes\QV.UpdateFile\shell\open\command" "" '"$INSTDIR\qvloader.exe" "%1"'
System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
