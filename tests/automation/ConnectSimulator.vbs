' Connects the automation wrapper to the bus simulator and reads its status, as a plant's
' script would. cscript under Wine reports no script errors: only the last line tells success.
Option Explicit

Sub Check(condition, text)
    If Not condition Then
        WScript.Echo "FAILED: " & text
        ' Quit ends the process without releasing srv: the simulator would keep it forever.
        If IsObject(srv) Then srv.Disconnect
        WScript.Quit 1
    End If
End Sub

Dim srv
Set srv = CreateObject("vkOPC.OPCAutoServer")
Check srv.ServerState = 6, "ServerState before Connect is " & srv.ServerState
Check VarType(srv.GetOPCServers()) = (vbArray + vbString), "GetOPCServers is no text array"

srv.Connect "Orvane.BusSimulator"
Check srv.ServerState = 1, "ServerState after Connect is " & srv.ServerState
Check InStr(srv.VendorInfo, "Orvane Bus Simulator") > 0, "VendorInfo is " & srv.VendorInfo
Check srv.ServerName = "Orvane.BusSimulator", "ServerName is " & srv.ServerName
Check VarType(srv.StartTime) = vbDate, "StartTime is no date"

srv.Disconnect
Check srv.ServerState = 6, "ServerState after Disconnect is " & srv.ServerState
Set srv = Nothing
WScript.Echo "AUTOMATION-SCRIPT-OK"
