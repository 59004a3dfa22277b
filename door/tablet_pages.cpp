// The two texts the door serves of its own: the chooser page and the tablet
// bridge script that goes into every HTML file it serves.

#include "door/door_routes.h"

namespace tillbay::door {

std::string_view chooser_page()
{
    static constexpr std::string_view page = R"HTML(<!DOCTYPE html>
<html lang="ko">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>틸웨 태블릿</title>
<style>
html, body { height: 100%; margin: 0; }
body {
  background: #0f1a2e; color: #fff;
  font: 22px/1.4 "Malgun Gothic", "Nanum Gothic", "NanumGothic", "Noto Sans CJK KR", sans-serif;
  display: flex; flex-direction: column; align-items: stretch; justify-content: center;
  padding: 24px; box-sizing: border-box; gap: 24px;
  -webkit-user-select: none; user-select: none; -webkit-tap-highlight-color: transparent;
}
h1 { margin: 0; font-size: 22px; font-weight: 700; text-align: center; opacity: .8; }
.choices { display: flex; gap: 24px; flex: 0 1 60vh; min-height: 200px; }
a {
  flex: 1; display: flex; flex-direction: column; align-items: center; justify-content: center; gap: 12px;
  border-radius: 28px; color: #fff; text-decoration: none; font-size: 34px; font-weight: 800;
  box-shadow: 0 16px 40px rgba(0, 0, 0, .35);
}
a small { font-size: 18px; font-weight: 400; opacity: .85; }
a:active { transform: scale(.98); }
.customer { background: #1b60c2; }
.kitchen { background: #155e3c; }
</style>
</head>
<body>
<h1>이 태블릿에 띄울 화면을 고르세요</h1>
<div class="choices">
  <a class="customer" href="/customer.html">손님 화면<small>주문 내역과 결제 QR</small></a>
  <a class="kitchen" href="/merchant/kds.html">주방 화면<small>들어온 주문과 조리 상태</small></a>
</div>
</body>
</html>
)HTML";
    return page;
}

std::string_view tablet_script()
{
    // Stands in for the native bridge on a tablet: commands go to the door
    // by POST, and the page is fed by polling with the last ETag. The kitchen
    // display polls every second, the customer page twice a second. Pages
    // that want to show the link's health define onDoorPoll(status, why):
    // 200 or 304 when the door answered, 0 when it could not be reached.
    static constexpr std::string_view script = R"JS((function(){'use strict';
if(window.tillwaveDoor)return;
function cookie(name){var parts=document.cookie?document.cookie.split(';'):[];for(var i=0;i<parts.length;i++){var p=parts[i].replace(/^\s+|\s+$/g,'');var eq=p.indexOf('=');if(eq>0&&p.slice(0,eq)===name)return p.slice(eq+1);}return '';}
var T='';try{T=new URLSearchParams(location.search).get('t')||'';}catch(e){}
if(!T)T=cookie('ttk');
function headers(h){h=h||{};if(T)h['X-Tilla-Token']=T;return h;}
var kitchen=/kds\.html$/.test(location.pathname);
var door=window.tillwaveDoor={kitchen:kitchen,lastOk:0,lastStatus:0,lastWhy:''};
window.tillwave={viewinfo:function(text){try{fetch('/act',{method:'POST',headers:headers({'Content-Type':'text/plain; charset=UTF-8'}),body:String(text)}).catch(function(){});}catch(e){}return true;}};
var etag='',busy=false;
function report(status,why){door.lastStatus=status;door.lastWhy=why||'';if(status===200||status===304)door.lastOk=Date.now();if(typeof window.onDoorPoll==='function'){try{window.onDoorPoll(status,door.lastWhy);}catch(e){}}}
function tick(){if(busy)return;busy=true;var h=headers();if(etag)h['If-None-Match']=etag;
var ctl=window.AbortController?new AbortController():null;var timer=ctl?setTimeout(function(){ctl.abort();},4000):0;
fetch(kitchen?'/kds/orders':'/state',{headers:h,cache:'no-store',signal:ctl?ctl.signal:undefined}).then(function(r){
if(r.status===304){report(304);return null;}
if(!r.ok){return r.json().then(function(j){report(r.status,j&&j.why);},function(){report(r.status);});}
var tag=r.headers.get('ETag')||'';
return r.json().then(function(j){etag=tag;report(200);var f=kitchen?window.setOrderList:window.setCust;if(typeof f==='function')f(j);});
}).catch(function(){report(0);}).then(function(){if(timer)clearTimeout(timer);busy=false;});}
setTimeout(function(){tick();setInterval(tick,kitchen?1000:500);},200);
})();)JS";
    return script;
}

} // namespace tillbay::door
