' The automation wrapper on Axolent.Orvane itself: its status, and a group's update rate as the
' server revises it. cscript under Wine reports no script errors: only the last line tells.
Option Explicit

Dim srv, grp

Sub Check(condition, text)
    If Not condition Then
        WScript.Echo "FAILED: " & text
        If IsObject(srv) Then srv.Disconnect
        WScript.Quit 1
    End If
End Sub

Set srv = CreateObject("vkOPC.OPCAutoServer")
srv.Connect "Axolent.Orvane"
Check srv.ServerState = 1, "ServerState of Axolent.Orvane is " & srv.ServerState
Check InStr(srv.VendorInfo, "Axolent") > 0, "VendorInfo is " & srv.VendorInfo
Check VarType(srv.StartTime) = vbDate, "StartTime is no date"

Set grp = srv.OPCGroups.Add("Skript")
grp.UpdateRate = 1010
Check grp.UpdateRate = 1050, "UpdateRate 1010 reads back " & grp.UpdateRate

srv.Disconnect
Check srv.ServerState = 6, "ServerState after Disconnect is " & srv.ServerState
Set srv = Nothing
WScript.Echo "AUTOMATION-SCRIPT-OK"
